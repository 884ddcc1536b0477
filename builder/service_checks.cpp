// The checks of the service settings that their kinds alone do not make: the ranges the service
// manager takes, the names it takes, and settings that only work together.
#include "config.h"

#include "bytes.h"
#include "settings_table.h"
#include "text.h"

#include <algorithm>

namespace {

struct ServiceRange {
    const char* Field;
    long long Min, Max;
    const char* Meaning;
};

const ServiceRange Ranges[] = {
    {"ServiceRestartSeconds", 0, 4294967, "seconds; the service manager holds the delay in 32-bit milliseconds"},
    {"ServiceRestartCount", 0, 100, "restarts; 0 means none"},
    {"ServiceRestartResetSeconds", 0, 999999999, "seconds"},
};

// The setting's planned text, its line and its length in UTF-16 units; false when the config does not give it.
bool Planned(const BuildPlan& plan, const char* field, std::string& text, int& line, size_t* units = nullptr)
{
    auto found = plan.Settings.find(FindSettingByField(field)->Id);
    if (found == plan.Settings.end())
        return false;
    text = Utf16ToUtf8(found->second.Text);
    line = found->second.Line;
    if (units != nullptr)
        *units = found->second.Text.size();
    return true;
}

[[noreturn]] void Fail(const BuildPlan& plan, int line, const std::string& message)
{
    throw BuildError(plan.ConfigPath, line, message);
}

// A named account is a user name, "DOMAIN\user" or "user@domain": the characters Windows refuses in
// user names are refused here rather than by the service manager at install time.
void CheckAccount(const BuildPlan& plan, const std::string& account, int line)
{
    const std::string refused = "\"/[]:;|=,+*?<>";
    if (account.size() > 256 || account.find_first_of(refused) != std::string::npos ||
        std::count(account.begin(), account.end(), '\\') > 1)
        Fail(plan, line, "ServiceAccount '" + account + "' is not an account name: LocalSystem, LocalService, "
                         "NetworkService, or a user name (DOMAIN\\user, user@domain) of at most 256 characters "
                         "without any of " + refused);
}

} // namespace

void CheckServiceSettings(const BuildPlan& plan)
{
    std::string text, demand;
    int line = 0, demandLine = 0;
    size_t units = 0;
    for (const ServiceRange& range : Ranges)
        if (Planned(plan, range.Field, text, line) && (std::stoll(text) < range.Min || std::stoll(text) > range.Max))
            Fail(plan, line, std::string(range.Field) + " must be " + std::to_string(range.Min) + " to " +
                                 std::to_string(range.Max) + " (" + range.Meaning + "), not " + text);
    if (Planned(plan, "ServiceDisplayName", text, line, &units) && units > 256)
        Fail(plan, line, "ServiceDisplayName is longer than the 256 characters the service manager takes");
    if (Planned(plan, "ServiceAccount", text, line))
        CheckAccount(plan, text, line);
    if (Planned(plan, "ServiceDelayedStart", text, line) && text == "1" &&
        !(Planned(plan, "ServiceDemandStart", demand, demandLine) && demand == "0"))
        Fail(plan, line, "ServiceDelayedStart needs ServiceDemandStart = 0: only an automatic start is delayed");
}
