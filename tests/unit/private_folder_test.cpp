// Which folders the launcher may extract into: the owner and DACL rules on security descriptors made
// in memory (Wine keeps no owner but the current user's on its files), and a service account's folder.
#include "private_folder.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

static const std::string User = "S-1-5-21-7-7-7-1000", Other = "S-1-5-21-7-7-7-1001";

// The SID of a text, freed with LocalFree (null when the text is not a SID).
static PSID Sid(const std::string& text)
{
    PSID sid = NULL;
    ConvertStringSidToSidA(text.c_str(), &sid);
    return sid;
}

TEST(PrivateFolder, OnlyTheUserSystemOrAdministratorsOwnOrMayWrite)
{
    const std::string own = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + User + ")";
    const std::pair<std::string, bool> cases[] = {
        {"O:" + User + own, true}, {"O:SY" + own, true}, {"O:BA" + own, true},
        {"O:" + Other + own, false},                                            // planted by another user
        {"O:" + User, false},                                                   // no DACL: everyone writes
        {"O:" + User + own + "(A;;0x1200a9;;;WD)(D;;FA;;;" + Other + ")", true}, // read and deny only
        {"O:" + User + own + "(A;OICIIO;FA;;;CO)", true},                       // for children only
        {"O:" + User + own + "(A;;0x1301ff;;;WD)", false},                      // world-writable, as Wine shows it
        {"O:" + User + own + "(A;;GW;;;BU)", false},
        {"O:" + User + own + "(A;;WD;;;" + Other + ")", false},                 // may change the DACL
        {"O:" + User + own + "(A;;0x40;;;AU)", false},                          // may delete the files
    };
    PSID user = Sid(User);
    for (const auto& [text, expected] : cases) {
        PSECURITY_DESCRIPTOR sd = NULL;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &sd, NULL))
            << text;
        EXPECT_EQ(IsPrivateSecurity(sd, user), expected) << text;
        LocalFree(sd);
    }
    LocalFree(user);
}

TEST(PrivateFolder, ServiceAccountsExtractUnderProgramData)
{
    const std::pair<std::string, std::string> cases[] = {
        {"S-1-5-18", "C:\\ProgramData\\Kestrun-SYSTEM"},      {"S-1-5-19", "C:\\ProgramData\\Kestrun-LocalService"},
        {"S-1-5-20", "C:\\ProgramData\\Kestrun-NetworkService"}, {User, "(the temporary directory)"},
        {"S-1-5-32-544", "(the temporary directory)"},
    };
    for (const auto& [sidText, expected] : cases) {
        PSID sid = Sid(sidText);
        char folder[MAX_PATH] = "(the temporary directory)";
        GetServiceAccountFolder(sid, "C:\\ProgramData", folder, sizeof(folder));
        EXPECT_EQ(folder, expected) << sidText;
        LocalFree(sid);
    }
}
