#include "search_order.h"

const char ModernSearchOrder[] = "B0EJV";

namespace {

struct MethodText {
    char Character;
    const char* Text;
};

const MethodText MethodTexts[] = {
    {'0', "the jvm.dll paths of JvmPath"},
    {'1', "HKLM JavaSoft\\Java Runtime Environment and IBM\\Java2 Runtime Environment (Java 8 and older), "
          "through RuntimeLib"},
    {'2', "HKLM JavaSoft and IBM Java Development Kit (Java 8 and older), JavaHome\\jre\\bin\\client\\jvm.dll"},
    {'3', "HKLM JavaSoft and IBM Java Development Kit (Java 8 and older), JavaHome\\jre\\bin\\server\\jvm.dll"},
    {'4', "HKLM JavaSoft and IBM Java Development Kit (Java 8 and older), JavaHome\\jre\\bin\\classic\\jvm.dll"},
    {'B', "the runtime folder BundledRuntime beside the executable"},
    {'E', "the folder the environment variable JAVA_HOME names"},
    {'J', "JavaSoft JDK, JRE, Java Development Kit and Java Runtime Environment keys, HKLM (both views) and "
          "HKCU: the newest acceptable"},
    {'V', "vendor keys (Eclipse Adoptium, Eclipse Foundation, AdoptOpenJDK, Semeru, Microsoft, SapMachine), "
          "HKLM (both views) and HKCU: the newest acceptable"},
};

} // namespace

std::vector<std::string> DescribeSearchOrder(const std::string& order)
{
    std::vector<std::string> lines;
    for (char c : order) {
        std::string text = "skipped: not a search method";
        for (const MethodText& method : MethodTexts)
            if (method.Character == c)
                text = method.Text;
        lines.push_back(std::string(1, c) + ": " + text);
    }
    return lines;
}
