// The rights the stores work with: under an elevated process (Wine runs every
// program so) the user's locations are worked on as a member of no
// Administrators group, on this thread only and until the scope ends; the
// machine's with the process's own rights. Wine checks no file's access list,
// so what the lowered rights keep out of reach shows only on Windows.
#include "common/StartToken.h"
#include "startup/StoreLinks.h"
#include "winutil/UniqueHandle.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

bool AnAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    UniqueSid admins;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, admins.put()))
        return false;
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, admins.get(), &member) && member;
}

} // namespace

TEST(StoreLinks, AnElevatedProcessWorksOnTheUsersFilesWithTheUsersRightsOnly)
{
    ASSERT_TRUE(IsElevatedProcess());
    ASSERT_TRUE(AnAdministrator());
    {
        const TActingAsUser user(/*userLocation=*/true);
        EXPECT_FALSE(user.MoreRightsThanUser());
        EXPECT_FALSE(AnAdministrator()) << "the Administrators group for deny only";
        bool otherThread = false;
        std::thread([&] { otherThread = AnAdministrator(); }).join();
        EXPECT_TRUE(otherThread) << "this thread only";
    }
    EXPECT_TRUE(AnAdministrator()) << "reverted with the scope";
    const TActingAsUser machine(/*userLocation=*/false);
    EXPECT_TRUE(machine.MoreRightsThanUser()) << "so no link may lie anywhere on the machine folder's path";
    EXPECT_TRUE(AnAdministrator());
}
