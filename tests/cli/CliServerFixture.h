// One nimbra-devserver on the compiled-in ports per test suite, a private
// HOME per test, and helpers to make local files and read JSON output.
#ifndef TESTS_CLI_CLISERVERFIXTURE_H
#define TESTS_CLI_CLISERVERFIXTURE_H

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Nimbra/NimbraConfig.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/DevServer.h"
#include "tests/support/TempDir.h"

struct JsonFree {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using JsonDoc = std::unique_ptr<cJSON, JsonFree>;

// The port of a compiled-in "scheme://host:port" address (18443 and 19000
// in the default build).
inline int PortOf(const std::string& url) {
    return std::stoi(url.substr(url.rfind(':') + 1));
}

class CliServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        DevServerOptions options;
        options.api_port = PortOf(NIMBRA_SERVER_URL);
        options.store_port = PortOf(NIMBRA_ENDPOINT);
        server_ = new DevServer(options);
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        server_->Reset();
        env_.home = home_.path();
    }

    CliResult Run(const std::vector<std::string>& args) { return RunCli(env_, args); }

    // A file of `size` pseudo-random bytes in the test's HOME.
    std::string MakeFile(const std::string& name, size_t size) {
        std::mt19937_64 random(size * 31 + name.size());
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(random());
        const std::string path = home_.file(name);
        EXPECT_TRUE(WriteFileBytes(path, data));
        return path;
    }

    static JsonDoc ParseJson(const std::string& text) {
        JsonDoc doc(cJSON_Parse(text.c_str()));
        EXPECT_NE(doc, nullptr) << "not JSON: " << text;
        return doc;
    }

    std::string LogText() const { return ReadFileBytes(home_.file("nimbra.log")); }

    static DevServer* server_;
    TempDir home_;
    CliEnv env_;
};

inline DevServer* CliServerTest::server_ = nullptr;

#endif  // TESTS_CLI_CLISERVERFIXTURE_H
