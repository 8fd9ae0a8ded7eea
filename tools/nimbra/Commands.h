// The subcommands. Each returns the process exit status (Status.h).
#ifndef NIMBRA_CLI_COMMANDS_H
#define NIMBRA_CLI_COMMANDS_H

#include <string>

#include "Session.h"

namespace cli {

struct UploadArgs {
    std::string local;  // "-": standard input
    std::string key;    // ending in '/': the file's name is appended
};

struct DownloadArgs {
    std::string key;
    std::string local;  // an existing folder: the key's name is appended; "-": standard output
};

struct BackupArgs {
    std::string local;
    std::string user;
    std::string backup = "default";
    long long expire_days = 0;  // 0: the record never expires
};

struct RestoreArgs {
    std::string user;
    long long id = 0;        // the record's id, or
    long long position = 0;  // its position in `nimbra records` (from 1)
    std::string local;       // empty: the record's file name in the current folder
};

struct ListArgs {
    std::string prefix = "/";
    bool json = false;
    bool human = false;
};

struct RemoveArgs {
    std::string key;
    std::string user;  // non-empty: the user's records are deleted too
};

struct RecordsArgs {
    std::string user;
    bool json = false;
    bool human = false;
};

struct UsageArgs {
    std::string user;
    bool json = false;
};

int RunUpload(Session& session, const UploadArgs& args);
int RunDownload(Session& session, const DownloadArgs& args);
int RunBackup(Session& session, const BackupArgs& args);
int RunRestore(Session& session, const RestoreArgs& args);
int RunList(Session& session, const ListArgs& args);
int RunRemove(Session& session, const RemoveArgs& args);
int RunRecords(Session& session, const RecordsArgs& args);
int RunUsage(Session& session, const UsageArgs& args);

}  // namespace cli

#endif  // NIMBRA_CLI_COMMANDS_H
