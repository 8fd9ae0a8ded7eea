// nimbra-devserver: the backup web API and a local OSS-compatible object store
// in one process. Prints the chosen ports and "ready" on stdout once both
// listeners accept connections; stops cleanly on SIGINT or SIGTERM.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "Application.h"

int main(int argc, char** argv) {
    devserver::ServerOptions opts;
    CLI::App app{"Backup web API and OSS-compatible object store for development and tests"};
    app.add_option("--data-dir", opts.data_dir, "Directory for the database, objects, certificate")
        ->required();
    app.add_option("--host", opts.host, "Address both listeners bind to");
    app.add_option("--api-port", opts.api_port, "Web API port (0 = any free port)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--store-port", opts.store_port, "Object store port (0 = any free port)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--bucket", opts.bucket, "Bucket that exists from the start");
    app.add_option("--sts-ttl", opts.sts_ttl, "Lifetime of issued credentials, in seconds")
        ->check(CLI::Range(1, 365 * 24 * 3600));
    app.add_flag("--api-plain-http", opts.api_plain_http, "Serve the web API without TLS");
    app.add_flag("--allow-anonymous", opts.allow_anonymous, "Let unsigned store requests through");
    app.add_flag("--log-requests", opts.log_requests, "Log every request on stderr");
    CLI11_PARSE(app, argc, argv);

    // Signals are taken synchronously by sigwait; every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        devserver::Application server(opts);
        server.Start();
        if (opts.api_port == 0) std::printf("api-port %d\n", server.api_port());
        if (opts.store_port == 0) std::printf("store-port %d\n", server.store_port());
        std::printf("ready\n");
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stop_signals, &sig);
        server.Stop();
    } catch (const std::exception& e) {
        std::cerr << "nimbra-devserver: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
