// The binary interface a host is compiled against: record layouts and the
// virtual slot order. Includes nothing of ours but the public header.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "Nimbra/Nimbra.h"

namespace {

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

TEST(AbiLayout, UserInfoRecord) {
    EXPECT_EQ(sizeof(_ST_UserInfo), 832u);
    EXPECT_EQ(offsetof(_ST_UserInfo, nId), 0u);
    EXPECT_EQ(offsetof(_ST_UserInfo, szName), 4u);
    EXPECT_EQ(offsetof(_ST_UserInfo, szBackupName), 259u);
    EXPECT_EQ(offsetof(_ST_UserInfo, szDateTime), 359u);
    EXPECT_EQ(offsetof(_ST_UserInfo, szFilePath), 459u);
    EXPECT_EQ(offsetof(_ST_UserInfo, szFileName), 715u);
    EXPECT_EQ(offsetof(_ST_UserInfo, llFileSize), 816u);
    EXPECT_EQ(offsetof(_ST_UserInfo, llExpireTime), 824u);
    EXPECT_EQ(sizeof(_ST_UserInfo::szName), 255u);
    EXPECT_EQ(sizeof(_ST_UserInfo::szFilePath), 256u);
    EXPECT_EQ(sizeof(_ST_UserInfo::nId), 4u);
    EXPECT_EQ(sizeof(_ST_UserInfo::llFileSize), 8u);
}

TEST(AbiLayout, RemotePathInfoRecord) {
    EXPECT_EQ(sizeof(_ST_RemotePathInfo), 280u);
    EXPECT_EQ(offsetof(_ST_RemotePathInfo, bIsDir), 0u);
    EXPECT_EQ(offsetof(_ST_RemotePathInfo, llFileSize), 8u);
    EXPECT_EQ(offsetof(_ST_RemotePathInfo, tLastModified), 16u);
    EXPECT_EQ(offsetof(_ST_RemotePathInfo, szPathName), 24u);
    EXPECT_EQ(sizeof(_ST_RemotePathInfo::tLastModified), 8u);
    EXPECT_EQ(sizeof(_ST_RemotePathInfo::szPathName), 255u);
}

TEST(AbiLayout, ManagerVirtualSlotOrder) {
    EXPECT_EQ(VirtualSlot(&IOssManager::PauseDownload), 0);
    EXPECT_EQ(VirtualSlot(&IOssManager::ContinueDownload), 1);
    EXPECT_EQ(VirtualSlot(&IOssManager::Stop), 2);
    EXPECT_EQ(VirtualSlot(&IOssManager::InsertUserInfo), 3);
    EXPECT_EQ(VirtualSlot(&IOssManager::GetUserUsedSize), 4);
    EXPECT_EQ(VirtualSlot(&IOssManager::GetUserUploadInfo), 5);
    EXPECT_EQ(VirtualSlot(&IOssManager::DeleteRemoteFile), 6);
    EXPECT_EQ(VirtualSlot(&IOssManager::ListRemotePath), 7);
    EXPECT_EQ(VirtualSlot(&IOssManager::DownloadFile), 8);
    EXPECT_EQ(VirtualSlot(&IOssManager::UploadFile), 9);
}

TEST(AbiLayout, CallbackFirstSlotIsOnProgress) {
    EXPECT_EQ(VirtualSlot(&IOssCallback::OnProgress), 0);
}

}  // namespace
