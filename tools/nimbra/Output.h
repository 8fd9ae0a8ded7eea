// What ls, records and usage print: aligned text for people, with whatever
// came from a server shown through SafeText, and JSON for programs (--json).
#ifndef NIMBRA_CLI_OUTPUT_H
#define NIMBRA_CLI_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"
#include "hostkit/Listing.h"

namespace cli {

// Prints a listing page by page as the pages arrive. Text: each page's
// folders (name with a trailing '/') and then its files with size and local
// modification time, sizes right-aligned to the widest seen so far. JSON:
// one document {"prefix", "entries": [...], "complete"}, its entries written
// as they come.
class ListingPrinter {
public:
    ListingPrinter(FILE* out, std::string prefix, bool json, bool human);
    void Page(const std::vector<hostkit::ListEntry>& entries);
    // Ends the output; `complete` is false when the listing did not run to
    // its end.
    void Finish(bool complete);
    long long entries() const { return entries_; }

private:
    FILE* out_;
    std::string prefix_;
    bool json_;
    bool human_;
    size_t size_width_ = 1;
    long long entries_ = 0;
};

// Records as `nimbra records` shows them, numbered from 1 (the position that
// `nimbra restore --pos` takes).
void PrintRecords(FILE* out, const std::vector<_ST_UserInfo>& records, bool human);
void PrintRecordsJson(FILE* out, const std::string& user, const std::vector<_ST_UserInfo>& records);

void PrintUsage(FILE* out, const std::string& user, long long size);
void PrintUsageJson(FILE* out, const std::string& user, long long size);

}  // namespace cli

#endif  // NIMBRA_CLI_OUTPUT_H
