// cpp-httplib 0.11.4, the release CMakeLists.txt requires, percent-decodes
// every request header value (and the path and query) while parsing. The
// store must see header values exactly as sent: x-oss-copy-source carries a
// percent-encoded key, and every x-oss-* value is part of the signed string.
// This definition takes the place of the library's exported decoding
// function (ELF symbol interposition), so httplib hands the request over
// undecoded; the server decodes path and query itself (ParseTarget), and
// header values stay raw.
#include <string>

namespace httplib {
namespace detail {

__attribute__((visibility("default"))) std::string decode_url(const std::string& s,
                                                              bool /*convert_plus_to_space*/) {
    return s;
}

}  // namespace detail
}  // namespace httplib
