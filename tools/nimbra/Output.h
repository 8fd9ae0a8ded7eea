// What ls, records and usage print: aligned text for people, JSON for
// programs (--json).
#ifndef NIMBRA_CLI_OUTPUT_H
#define NIMBRA_CLI_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

#include "Callbacks.h"

namespace cli {

// Folders first (name with a trailing '/'), then files with size and local
// modification time, each group in listing order.
void PrintListing(FILE* out, const std::vector<ListEntry>& entries, bool human);
void PrintListingJson(FILE* out, const std::string& prefix, const std::vector<ListEntry>& entries);

void PrintRecords(FILE* out, const std::vector<_ST_UserInfo>& records, bool human);
void PrintRecordsJson(FILE* out, const std::string& user, const std::vector<_ST_UserInfo>& records);

void PrintUsage(FILE* out, const std::string& user, long long size);
void PrintUsageJson(FILE* out, const std::string& user, long long size);

// A record's text field up to its terminator (never past the field).
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length] != '\0') ++length;
    return std::string(field, length);
}

}  // namespace cli

#endif  // NIMBRA_CLI_OUTPUT_H
