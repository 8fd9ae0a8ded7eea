#include "AnswerFaults.h"

#include <algorithm>
#include <cstdlib>

namespace devserver {
namespace {

// The first `keep` bytes of another body, with those in [from, to) inverted:
// the length sent matches what is sent.
class AlteredBody : public AnswerBody {
public:
    AlteredBody(std::shared_ptr<const AnswerBody> inner, long long keep, long long from,
                long long to)
        : inner_(std::move(inner)), keep_(keep), from_(from), to_(to) {}
    long long Size() const override { return keep_; }
    ssize_t ReadAt(long long offset, char* buf, size_t len) const override {
        len = static_cast<size_t>(std::min<long long>(static_cast<long long>(len), keep_ - offset));
        const ssize_t n = inner_->ReadAt(offset, buf, len);
        for (long long i = std::max(from_, offset); i < std::min(to_, offset + n); ++i)
            buf[i - offset] ^= '\xff';
        return n;
    }

private:
    std::shared_ptr<const AnswerBody> inner_;
    long long keep_, from_, to_;
};

}  // namespace

void ApplyAnswerFaults(const FaultDecision& f, Answer& answer) {
    const std::string crc = answer.Get("x-oss-hash-crc64ecma");
    if (f.bad_crc && !crc.empty())
        answer.Set("x-oss-hash-crc64ecma",
                   std::to_string(std::strtoull(crc.c_str(), nullptr, 10) ^ 0x5a5a5a5a5a5a5a5aULL));
    if (f.alter_body && answer.body) {
        // Offsets count from the body's first byte (of the range, for a ranged GET).
        const long long total = answer.body->Size();
        long long keep = total;
        if (f.keep_bytes == -2) keep = total / 2;
        if (f.keep_bytes >= 0) keep = std::min(total, f.keep_bytes);
        const long long from = f.corrupt_offset >= 0 ? f.corrupt_offset : keep / 2;
        answer.body = std::make_shared<AlteredBody>(answer.body, keep, from,
                                                    std::min(keep, from + f.corrupt_length));
    }
    if (f.close_after_bytes >= 0) {
        // Answers without a body, or with no more than K bytes, end the
        // connection once they are sent.
        answer.cut_after = f.close_after_bytes;
        answer.close = true;
    }
}

}  // namespace devserver
