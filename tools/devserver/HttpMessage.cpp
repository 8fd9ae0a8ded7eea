#include "HttpMessage.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "JsonUtil.h"

namespace devserver {

ssize_t TextBody::ReadAt(long long offset, char* buf, size_t len) const {
    if (offset < 0 || offset >= Size()) return 0;
    const size_t n = std::min(len, text_.size() - static_cast<size_t>(offset));
    std::memcpy(buf, text_.data() + offset, n);
    return static_cast<ssize_t>(n);
}

void Answer::Set(const std::string& name, const std::string& value) {
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                                 [&](const auto& h) {
                                     return strcasecmp(h.first.c_str(), name.c_str()) == 0;
                                 }),
                  headers.end());
    headers.emplace_back(name, value);
}

void Answer::SetText(int code, std::string text, const std::string& content_type) {
    status = code;
    body = std::make_shared<TextBody>(std::move(text));
    Set("Content-Type", content_type);
}

Answer JsonAnswer(int status, std::string json) {
    Answer a;
    a.SetText(status, std::move(json), "application/json");
    return a;
}

Answer JsonErrorAnswer(int status, const std::string& message) {
    return JsonAnswer(status, JsonError(message));
}

void DocumentExchange::Take(const char* data, size_t size) {
    if (over_) return;
    if (body_.size() + size > limit_) {
        over_ = true;
        body_.clear();
        return;
    }
    body_.append(data, size);
}

}  // namespace devserver
