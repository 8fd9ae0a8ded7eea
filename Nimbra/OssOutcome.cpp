#include "Nimbra/OssOutcome.h"

void Report(IOssCallback* pCallback, int nResult, int nPercent, void* pData) {
    if (pCallback) pCallback->OnProgress(nResult, nPercent, pData);
}

bool Finish(IOssCallback* pCallback, const _ST_OssOutcome& outcome) {
    Report(pCallback, outcome.nResult, 100);
    return outcome.bReturn;
}
