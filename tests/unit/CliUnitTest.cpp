// The command line's pure pieces: the cause of a failure read from the
// library's log lines, and the progress line's width.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/nimbra/Diagnosis.h"
#include "tools/nimbra/ProgressDisplay.h"

namespace {

using namespace cli;

TEST(CliDiagnosis, TheLibrarysLogNamesTheCause) {
    // Lines as "function|message", one per line, and what they tell.
    const struct {
        std::string lines, tells;
    } cases[] = {
        {"", "nothing"},
        {"SendUrl|ERR:res = 7,rescode = 0\nGetStsKey|GetStsKey fail!",
         "web API failed, unreachable: could not connect (libcurl error 7)"},
        {"SendUrl|ERR:res = 0,rescode = 500", "web API failed: HTTP 500"},
        {"SendUrl|ERR:m_nCurlCode = 0,m_nStatusCode = 0",
         "web API failed, unreachable: no HTTP answer"},
        {"SendUrl|ERR:res = 28,rescode = 0\nSendUrl|[Post]: SUCESS", "web API answered"},
        {"SendUrl|[Post]: SUCESS\nMultiUploadFile|Init multipart upload failed, Bad token.",
         "store failed: Bad token."},
        {"MultiUploadFile|error code: AccessDenied\n"
         "MultiUploadFile|Multipart upload part from file failed, 20971520, Denied., 403",
         "store failed: Denied. (AccessDenied)"},
        {"MultiUploadFile|error code: SecurityTokenExpired\nMultiUploadFile|sts expire , try "
         "again!\nSendUrl|[Post]: SUCESS\nMultiUploadFile|Complete multipart upload from file "
         "succeeded, upload_id:U f",
         "web API answered"},
        {"DownloadFile|range 0-1048575 returned 12 bytes",
         "store failed: range 0-1048575 returned 12 bytes"},
        {"DeleteRemoteFile|deleteUser ann fail!", "nothing"},
    };
    const char* const kLast[] = {"nothing", "web API answered", "web API failed", "store failed"};
    for (const auto& c : cases) {
        std::vector<LibraryLine> lines;
        std::istringstream text(c.lines);
        for (std::string line; std::getline(text, line);)
            lines.push_back({line.substr(0, line.find('|')), line.substr(line.find('|') + 1)});
        const Diagnosis d = Diagnose(lines);
        EXPECT_EQ(std::string(kLast[static_cast<int>(d.last)]) +
                      (d.unreachable ? ", unreachable" : "") +
                      (d.detail.empty() ? "" : ": " + d.detail),
                  c.tells)
            << c.lines;
    }
}

TEST(CliProgress, LinesFitTheTerminal) {
    ProgressSnapshot s;
    s.verb = "download";
    s.bytes = 33LL << 20;
    s.total = 6LL << 30;
    s.rate = 120.3 * (1 << 20);
    s.seconds_left = 50000;
    for (bool paused : {false, true}) {
        s.paused = s.keys = paused;
        for (int columns : {8, 20, 30, 40, 50, 60, 80, 132}) {
            const std::string line = ProgressBarLine(s, columns);
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
            EXPECT_EQ(line.rfind("downloa", 0), 0u) << line;
        }
    }
}

}  // namespace
