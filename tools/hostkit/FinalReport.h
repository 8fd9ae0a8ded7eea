// The last notification of a library operation: OnProgress with percentage
// 100, which every upload, download and listing sends exactly once (the
// manager's own early exits aside: a null argument, or credentials refused
// without a network error, return false and send nothing).
#ifndef HOSTKIT_FINALREPORT_H
#define HOSTKIT_FINALREPORT_H

namespace hostkit {

struct FinalReport {
    bool came = false;
    int result = 0;  // 0 ended without failure, 1 network failure, -1 other failure

    // Records the notification; true when it was the final one.
    bool Take(int nResult, int nPercent) {
        if (nPercent < 100) return false;
        came = true;
        result = nResult;
        return true;
    }
};

}  // namespace hostkit

#endif  // HOSTKIT_FINALREPORT_H
