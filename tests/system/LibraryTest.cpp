// The library as a host links it: the binary interface, the entry point, and
// one whole backup cycle against the development server.
#include <cstddef>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "tests/system/SystemTest.h"

namespace {

using namespace systest;

// On the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its slot in the virtual table.
template <typename Pmf>
long VirtualSlot(Pmf pmf) {
    static_assert(sizeof(Pmf) == 2 * sizeof(ptrdiff_t), "Itanium member pointer");
    ptrdiff_t raw[2];
    std::memcpy(raw, &pmf, sizeof raw);
    EXPECT_EQ(raw[0] % 2, 1) << "not a virtual member function";
    return static_cast<long>((raw[0] - 1) / static_cast<ptrdiff_t>(sizeof(void*)));
}

TEST(Abi, RecordLayoutsVirtualSlotsAndTheEntryPoint) {
    // Each record's size, then the offsets of its fields.
#define USER(field) offsetof(_ST_UserInfo, field)
#define ENTRY(field) offsetof(_ST_RemotePathInfo, field)
    EXPECT_EQ((std::vector<size_t>{sizeof(_ST_UserInfo), USER(nId), USER(szName),
                                   USER(szBackupName), USER(szDateTime), USER(szFilePath),
                                   USER(szFileName), USER(llFileSize), USER(llExpireTime)}),
              (std::vector<size_t>{832, 0, 4, 259, 359, 459, 715, 816, 824}));
    EXPECT_EQ((std::vector<size_t>{sizeof(_ST_RemotePathInfo), ENTRY(bIsDir), ENTRY(llFileSize),
                                   ENTRY(tLastModified), ENTRY(szPathName)}),
              (std::vector<size_t>{280, 0, 8, 16, 24}));

#define SLOT(name) VirtualSlot(&IOssManager::name)
    EXPECT_EQ((std::vector<long>{SLOT(PauseDownload), SLOT(ContinueDownload), SLOT(Stop),
                                 SLOT(InsertUserInfo), SLOT(GetUserUsedSize),
                                 SLOT(GetUserUploadInfo), SLOT(DeleteRemoteFile),
                                 SLOT(ListRemotePath), SLOT(DownloadFile), SLOT(UploadFile)}),
              (std::vector<long>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(VirtualSlot(&IOssCallback::OnProgress), 0);

    // Every InitOssManager hands out the same object.
    InitOssManager(nullptr);  // simply returns
    std::vector<IOssManager*> got(8, nullptr);
    std::vector<std::thread> threads;
    for (auto& slot : got) threads.emplace_back([&slot] { InitOssManager(&slot); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<IOssManager*>(got.begin(), got.end()).size(), 1u);
    EXPECT_NE(got[0], nullptr);
    EXPECT_EQ(Manager(), got[0]);
}

class Library : public ServerSuite {
protected:
    static _ST_UserInfo Record(const char* user, const char* key, long long size) {
        _ST_UserInfo info{0, "", "nightly", "2026-12-05 03:00:00", "", "backup.bin", size, 30};
        std::strcpy(info.szName, user);
        std::strcpy(info.szFilePath, key);
        return info;
    }
    static std::string Text(const _ST_UserInfo& r) {
        return std::string(r.szName) + "|" + r.szBackupName + "|" + r.szDateTime + "|" +
               r.szFilePath + "|" + r.szFileName + "|" + std::to_string(r.llFileSize) + "|" +
               std::to_string(r.llExpireTime);
    }
    std::vector<_ST_UserInfo> Records(const char* user) {
        RecordingCallback cb(Payload::kRecords);
        EXPECT_TRUE(m->GetUserUploadInfo(user, &cb));
        return cb.records();
    }
};

TEST_F(Library, BackupCycle) {
    // Two parts, the second one byte long.
    const std::string data = RandomBytes(10 * kMiB + 1, 1);
    const std::string local = MakeFile("backup.bin", data);
    const char* key = "cycle/nightly/backup.bin";
    const long long size = static_cast<long long>(data.size());

    RecordingCallback up;
    ASSERT_TRUE(m->UploadFile(local.c_str(), size, key, &up));
    EXPECT_EQ(up.trace(), "0:20 0:89 0:90 0:95 0:100");

    const auto entries = ListAll("cycle/nightly/");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(std::string(entries[0].szPathName) + (entries[0].bIsDir ? " dir " : " file ") +
                  std::to_string(entries[0].llFileSize),
              "backup.bin file " + std::to_string(size));

    const std::string copy = dir_.file("restored.bin");
    RecordingCallback down;
    ASSERT_TRUE(m->DownloadFile(key, copy.c_str(), &down));
    EXPECT_EQ(down.trace(), "0:9 0:18 0:28 0:37 0:47 0:56 0:66 0:75 0:85 0:94 0:95 0:100");
    EXPECT_TRUE(ReadFileBytes(copy) == data) << "the download differs from the upload";

    const _ST_UserInfo info = Record("cyclist", key, size);
    ASSERT_TRUE(m->InsertUserInfo(info));
    const auto records = Records("cyclist");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_GT(records[0].nId, 0);
    EXPECT_EQ(Text(records[0]), Text(info));
    EXPECT_EQ(m->GetUserUsedSize("cyclist"), size);

    ASSERT_TRUE(m->DeleteRemoteFile("cyclist", key));
    EXPECT_TRUE(ListAll("cycle/nightly/").empty());
    EXPECT_TRUE(Records("cyclist").empty());
    EXPECT_EQ(m->GetUserUsedSize("cyclist"), 0);
}

// The records go only with a user name, only after the object is gone, and
// their failure does not fail the deletion.
TEST_F(Library, DeletionOfTheRecordsFollowsTheObject) {
    const char* key = "erase/file.bin";
    PutObject(key, "four");
    ASSERT_TRUE(m->InsertUserInfo(Record("eraser", key, 4)));
    auto left = [&] {
        return std::to_string(ListAll("erase/").size()) + " objects, " +
               std::to_string(Records("eraser").size()) + " records";
    };

    ASSERT_TRUE(m->DeleteRemoteFile(nullptr, key));
    EXPECT_EQ(left(), "0 objects, 1 records");

    PutObject(key, "four");
    server_->AddFault(R"({"method":"DELETE","status":500})");
    EXPECT_FALSE(m->DeleteRemoteFile("eraser", key));
    EXPECT_EQ(left(), "1 objects, 1 records");

    server_->ScriptApi(R"({"path":"/deleteUser","status":500,"body":"{}","count":1})");
    EXPECT_TRUE(m->DeleteRemoteFile("eraser", key));
    EXPECT_EQ(left(), "0 objects, 1 records");

    EXPECT_TRUE(m->DeleteRemoteFile("eraser", key));  // a missing key deletes fine
    EXPECT_EQ(left(), "0 objects, 0 records");
}

// What the header warns of, as it behaves.
TEST_F(Library, TrapsTheHeaderWarnsOf) {
    PutObject("traps/photos/a.jpg", "a");
    PutObject("traps/photos.txt", "t");
    // A folder without its "/" lists the keys that begin with its name.
    std::string names;
    for (const auto& e : ListAll("traps/photos")) names += std::string(e.szPathName) + " ";
    EXPECT_EQ(names, ".txt ");

    // User names go into the query as given: "ann&x=1" names ann.
    ASSERT_TRUE(m->InsertUserInfo(Record("ann", "traps/photos.txt", 1)));
    ASSERT_TRUE(m->DeleteRemoteFile("ann&x=1", "traps/photos.txt"));
    EXPECT_TRUE(Records("ann").empty());
}

}  // namespace
