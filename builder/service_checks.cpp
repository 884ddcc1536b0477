// The checks of the settings that their kinds alone do not make: the ranges the launcher and the
// service manager take, the names and switches they take, and settings that only work together.
#include "config.h"

#include "bytes.h"
#include "ini.h"
#include "java_version.h"
#include "settings_table.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

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
    {"StdoutMode", 0, 2, "0 unchanged, 1 to StdoutFile, 2 captured"},
    {"StderrMode", 0, 2, "0 unchanged, 1 to StderrFile, 2 captured"},
    {"ProcessPriority", 0, 5, "0 realtime, 1 high, 2 above normal, 3 normal, 4 below normal, 5 idle"},
    {"StdoutKeepFiles", 0, 100, "earlier files kept; 0 empties the file at each start"},
    {"StderrKeepFiles", 0, 100, "earlier files kept; 0 empties the file at each start"},
    {"StdoutRollBytes", 0, 2147483647, "bytes; 0 never rolls while the program runs"},
    {"StderrRollBytes", 0, 2147483647, "bytes; 0 never rolls while the program runs"},
    {"RestartLimit", 0, 100, "restarts in a row"},
};

// The switches of the service, and the option that may follow them: each must be one argument, distinct.
const char* const SwitchFields[] = {"InstallSwitch", "UninstallSwitch", "ServiceSwitch"};
const char QuietOption[] = "-quiet";

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

const char AccountForms[] = "empty, LocalSystem, LocalService, NetworkService, DOMAIN\\user, .\\user or user@domain";

// An account is a built-in one or a named one in a documented form: "DOMAIN\user", ".\user" or
// "user@domain"; the characters Windows refuses in user names are refused here rather than by the
// service manager at install time.
void CheckAccount(const BuildPlan& plan, const std::string& account, int line)
{
    const std::vector<std::string> builtIn{"LocalSystem", "LocalService", "NetworkService"};
    for (const std::string& name : builtIn)
        if (strcasecmp(account.c_str(), name.c_str()) == 0)
            return;
    const std::string refused = "\"/[]:;|=,+*?<>";
    size_t slash = account.find('\\'), at = account.find('@');
    bool domainUser = slash != std::string::npos && slash > 0 && slash + 1 < account.size() &&
                      account.find('\\', slash + 1) == std::string::npos;
    bool userAtDomain = slash == std::string::npos && at != std::string::npos && at > 0 && at + 1 < account.size();
    if (account.size() > 256 || account.find_first_of(refused) != std::string::npos)
        Fail(plan, line, "ServiceAccount '" + account + "' is not an account name: a user name of at most 256 "
                         "characters without any of " + refused + " in one of the forms " + AccountForms);
    // A misspelt built-in account gets its right spelling suggested, a bare user name the local form.
    std::string suggestion = NearestWord(account, builtIn);
    if (suggestion.empty() && slash == at)
        suggestion = ".\\" + account;
    if (!domainUser && !userAtDomain)
        Fail(plan, line, "ServiceAccount '" + account + "' is not in one of the forms " + AccountForms +
                         (suggestion.empty() ? "" : "; did you mean '" + suggestion + "'?"));
}

// A service name the service manager takes: 1 to 256 characters (UTF-16 units), no '/' or '\\'.
void CheckServiceName(const BuildPlan& plan, const char* field, const std::string& name, int line)
{
    std::u16string units;
    Utf8ToUtf16(name, units); // the plan's text came from UTF-16: it converts back
    if (units.empty() || units.size() > 256 || name.find_first_of("/\\") != std::string::npos)
        Fail(plan, line, std::string(field) + " '" + name + "' is not a service name: 1 to 256 characters, none "
                         "of them '/' or '\\'");
}

void CheckSwitches(const BuildPlan& plan)
{
    std::string text[3];
    int line[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++) {
        if (!Planned(plan, SwitchFields[i], text[i], line[i]))
            text[i] = FindSettingByField(SwitchFields[i])->Shipped;
        if (text[i].empty() || text[i].find_first_of(" \t\"") != std::string::npos || text[i] == QuietOption)
            Fail(plan, line[i], std::string(SwitchFields[i]) + " '" + text[i] + "' is not a switch: one word "
                                "without blanks or quotes, not " + QuietOption + " (such as -install)");
        for (int j = 0; j < i; j++)
            if (text[i] == text[j])
                Fail(plan, line[i], std::string(SwitchFields[i]) + " '" + text[i] + "' is also the " +
                                    SwitchFields[j] + ": each service switch must be its own");
    }
}

void CheckServiceNames(const BuildPlan& plan)
{
    std::string text, account;
    int line = 0, accountLine = 0;
    if (Planned(plan, "ServiceName", text, line) && !text.empty())
        CheckServiceName(plan, "ServiceName", text, line);
    if (Planned(plan, "ServiceDependencies", text, line) && !text.empty())
        for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
            end = text.find(';', at);
            CheckServiceName(plan, "ServiceDependencies entry", text.substr(at, end - at), line);
        }
    bool named = Planned(plan, "ServiceAccount", account, accountLine) && !account.empty() &&
                 strcasecmp(account.c_str(), "LocalSystem") != 0;
    if (Planned(plan, "ServiceInteractive", text, line) && text == "1" && named)
        Fail(plan, line, "ServiceInteractive = 1 needs the LocalSystem account: the service manager refuses an "
                         "interactive service that runs as '" + account + "' (line " +
                         std::to_string(accountLine) + ")");
}

} // namespace

namespace {

const char SearchMethods[] = "01234BEJV";

// One character per method, each a method and given once; a lower-case letter is suggested in upper case.
void CheckSearchOrder(const BuildPlan& plan)
{
    std::string order, upper;
    int line = 0;
    if (!Planned(plan, "JreSearchOrder", order, line))
        return;
    for (char ch : order)
        upper += (char)toupper((unsigned char)ch);
    std::string why = order.empty() ? "names no method" : "";
    for (size_t i = 0; i < order.size() && why.empty(); i++)
        if (strchr(SearchMethods, order[i]) == nullptr || order[i] == 0)
            why = "has '" + std::string(1, order[i]) + "', which is not a search method";
        else if (order.find(order[i]) < i)
            why = "gives '" + std::string(1, order[i]) + "' twice";
    if (!why.empty())
        Fail(plan, line, "JreSearchOrder '" + order + "' " + why + ": give each of 0, 1, 2, 3, 4, B, E, J and V at "
                         "most once, in the order to try" + (upper != order && upper.find_first_not_of(SearchMethods) ==
                         std::string::npos ? "; did you mean '" + upper + "'?" : ""));
}

// A JvmPath entry the launcher's path buffer cannot hold is never tried; a maximum older than the
// minimum takes no runtime at all.
void CheckRuntimeLimits(const BuildPlan& plan)
{
    std::string text, maximum;
    int line = 0, maximumLine = 0;
    if (Planned(plan, "JvmPath", text, line))
        for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
            end = text.find(';', at);
            if ((end == std::string::npos ? text.size() : end) - at >= 260)
                Fail(plan, line, "JvmPath entry '" + text.substr(at, end - at) + "' is 260 characters or longer, "
                                 "more than a Windows path the launcher tries");
        }
    JavaVersionNumber low, high;
    if (Planned(plan, "JavaVersion", text, line) && Planned(plan, "JavaMaxVersion", maximum, maximumLine) &&
        ReadJavaVersionSetting(text.c_str(), &low) && ReadJavaVersionSetting(maximum.c_str(), &high) &&
        !JavaVersionWithinMaximum(&low, &high))
        Fail(plan, maximumLine, "JavaMaxVersion " + maximum + " is older than JavaVersion " + text +
                                ": no runtime can be within both");
}

// The method a second start's arguments go to is a dotted static method, and forward needs one.
void CheckSecondStarts(const BuildPlan& plan)
{
    std::string mode, method;
    int modeLine = 0, methodLine = 0;
    bool named = Planned(plan, "SecondInstanceMethod", method, methodLine) && !method.empty();
    std::string problem = named ? ClassNameProblem(method) : "";
    if (named && problem.empty() && method.find('.') == std::string::npos)
        problem = "names no class: write the class and the method with dots, such as org.acme.App.openFiles";
    if (!problem.empty())
        Fail(plan, methodLine, "SecondInstanceMethod '" + method + "' " + problem);
    if (Planned(plan, "SecondInstance", mode, modeLine) && mode == "forward" && !named)
        Fail(plan, modeLine, "SecondInstance = forward hands a second start's arguments to SecondInstanceMethod, "
                             "which is empty: name the method (org.acme.App.openFiles) or choose activate");
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
    if (Planned(plan, "ServiceAccount", text, line) && !text.empty())
        CheckAccount(plan, text, line);
    CheckServiceNames(plan);
    CheckSwitches(plan);
    CheckSearchOrder(plan);
    CheckRuntimeLimits(plan);
    CheckSecondStarts(plan);
    if (Planned(plan, "ServiceDelayedStart", text, line) && text == "1" &&
        !(Planned(plan, "ServiceDemandStart", demand, demandLine) && demand == "0"))
        Fail(plan, line, "ServiceDelayedStart needs ServiceDemandStart = 0: only an automatic start is delayed");
}
