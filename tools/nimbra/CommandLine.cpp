// nimbra's command line: parses the arguments and runs one command. nimbra
// uses the library exactly as a desktop host does: the public header,
// InitOssManager, and the host kit's IOssCallback implementations.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>

#include "BuildInfo.h"
#include "Commands.h"
#include "Control.h"
#include "Log.h"
#include "Nimbra/Nimbra.h"
#include "Session.h"
#include "Status.h"

namespace {

std::string VersionText() {
    return std::string("nimbra ") + cli::kVersion + "\nweb API:  " + cli::kServerUrl +
           "\nendpoint: " + cli::kEndpoint + "\nbucket:   " + cli::kBucket;
}

// One line saying what is wrong and one pointing at the help.
int UsageError(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
    std::string command = "nimbra";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    std::string what = error.what();
    if (app.get_subcommands().empty()) {
        // The first word that is not an option was meant as the command.
        for (int i = 1; i < argc; ++i) {
            if (argv[i][0] != '-') {
                what = std::string("unknown command '") + argv[i] + "'";
                break;
            }
        }
    }
    return cli::Fail(cli::kExitUsage, what, "Try '" + command + " --help'.");
}

}  // namespace

int cli::Run(int argc, char** argv) {
    CLI::App app{"Back up files to the object store and keep their records at the web API."};
    app.name("nimbra");
    app.set_version_flag("--version", VersionText(), "Print the version and compiled-in addresses");
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Library log lines on stderr instead of the log file");
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(
        "Keys during a transfer: p pause, r resume, s stop. Ctrl-C stops the operation;\n"
        "if it has not ended a second later, or on a second Ctrl-C, nimbra exits (130).\n"
        "Exit status: 0 done, 1 the web API or the store could not be reached, 2 other\n"
        "failure, 3 stopped, 64 usage error.\n"
        "Library log: $NIMBRA_LOG (\"-\" = stderr), else ~/.cache/nimbra/nimbra.log.\n");

    cli::UploadArgs upload;
    CLI::App* upload_cmd = app.add_subcommand("upload", "Upload a local file to an object key");
    upload_cmd->add_option("LOCAL", upload.local, "File to upload; - reads standard input")
        ->required();
    upload_cmd->add_option("KEY", upload.key, "Object key; ending in '/' appends the file name")
        ->required();

    cli::DownloadArgs download;
    CLI::App* download_cmd = app.add_subcommand("download", "Download an object to a local file");
    download_cmd->add_option("KEY", download.key, "Object key")->required();
    download_cmd
        ->add_option("LOCAL", download.local,
                     "File to write (symlinks are followed), an existing folder, or - for "
                     "standard output")
        ->required();

    cli::ListArgs list;
    CLI::App* list_cmd = app.add_subcommand("ls", "List one folder level of the store");
    list_cmd->add_option("PREFIX", list.prefix, "Folder to list (default: the top level)");
    list_cmd->add_flag("--json", list.json, "Machine-readable output");
    list_cmd->add_flag("--human", list.human, "Sizes in KiB, MiB, GiB");

    cli::RemoveArgs remove;
    CLI::App* remove_cmd = app.add_subcommand("rm", "Delete an object");
    remove_cmd->add_option("KEY", remove.key, "Object key")->required();
    remove_cmd->add_option("--user", remove.user,
                           "Also delete ALL backup records of this user at the web API (the "
                           "bytes of their other backups stay)");

    cli::RecordsArgs records;
    CLI::App* records_cmd = app.add_subcommand("records", "List a user's backup records");
    records_cmd->add_option("USER", records.user, "User name")->required();
    records_cmd->add_flag("--json", records.json, "Machine-readable output");
    records_cmd->add_flag("--human", records.human, "Sizes in KiB, MiB, GiB");

    cli::UsageArgs usage;
    CLI::App* usage_cmd = app.add_subcommand("usage", "Show the space a user's backups take");
    usage_cmd->add_option("USER", usage.user, "User name")->required();
    usage_cmd->add_flag("--json", usage.json, "Machine-readable output");

    cli::BackupArgs backup;
    CLI::App* backup_cmd =
        app.add_subcommand("backup", "Upload a file and register it as a backup record");
    backup_cmd->add_option("LOCAL", backup.local, "File to back up")->required();
    backup_cmd->add_option("--user", backup.user, "Owner of the backup")->required();
    backup_cmd->add_option("--name", backup.backup, "Backup name")->capture_default_str();
    backup_cmd->add_option("--expire-days", backup.expire_days,
                           "Days until the record expires (default 0: never)");
    backup_cmd->footer(
        "Each backup is stored under a key of its own, USER/BACKUP/<date and time>/<file name>,\n"
        "so a later backup never replaces an earlier one; nimbra restore gets it back.");

    cli::RestoreArgs restore;
    CLI::App* restore_cmd =
        app.add_subcommand("restore", "Download the bytes of one backup record");
    restore_cmd->add_option("USER", restore.user, "Owner of the backup")->required();
    restore_cmd->add_option("LOCAL", restore.local,
                            "File to write (overwritten), a folder to create the record's "
                            "file in, or - for standard output (default: the current folder)");
    CLI::Option* id_option =
        restore_cmd->add_option("--id", restore.id, "The record's ID (nimbra records)")
            ->check(CLI::PositiveNumber);
    restore_cmd->add_option("--pos", restore.position, "The record's line # in nimbra records")
        ->check(CLI::PositiveNumber)
        ->excludes(id_option);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageError(app, e, argc, argv);
    }

    cli::ConfigureLog(verbose);
    const cli::InterruptHandling interrupts;
    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    if (manager == nullptr) return cli::Fail(cli::kExitFailed, "libNimbra gave no manager");

    try {
        cli::Session session(*manager);
        if (upload_cmd->parsed()) return cli::RunUpload(session, upload);
        if (download_cmd->parsed()) return cli::RunDownload(session, download);
        if (list_cmd->parsed()) return cli::RunList(session, list);
        if (remove_cmd->parsed()) return cli::RunRemove(session, remove);
        if (records_cmd->parsed()) return cli::RunRecords(session, records);
        if (usage_cmd->parsed()) return cli::RunUsage(session, usage);
        if (backup_cmd->parsed()) return cli::RunBackup(session, backup);
        if (restore_cmd->parsed()) return cli::RunRestore(session, restore);
    } catch (const std::exception& e) {
        return cli::Fail(cli::kExitFailed, std::string("unexpected error: ") + e.what());
    }
    return cli::Fail(cli::kExitUsage, "no command given", "Try 'nimbra --help'.");
}
