#include "demo/StandInSettings.h"

#include <shlobj.h>

namespace {

const char kProductFolder[] = "Kalmora Photo";
const char kFallbackProgramFiles[] = "C:\\Program Files";

std::string Variable(const char* name)
{
    char value[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string ProgramFilesFolder()
{
    char folder[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK)
        return folder;
    return kFallbackProgramFiles;
}

bool Switch(const char* name)
{
    const std::string value = Variable(name);
    return !value.empty() && value != "0";
}

} // namespace

DWORD ParseHoldMilliseconds(const std::string& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    DWORD value = std::stoul(text);
    return value > kMaxHoldMilliseconds ? kMaxHoldMilliseconds : value;
}

StandInSettings ReadStandInSettings()
{
    StandInSettings settings;
    settings.reportPath = Variable("KM_STANDIN_REPORT");
    settings.installFolder = Variable("KM_STANDIN_INSTALL_DIR");
    if (settings.installFolder.empty())
        settings.installFolder = ProgramFilesFolder() + "\\" + kProductFolder;
    if (settings.installFolder.back() != '\\')
        settings.installFolder += '\\';
    settings.holdMilliseconds = ParseHoldMilliseconds(Variable("KM_STANDIN_HOLD_MS"));
    settings.exitAtOnce = Switch("KM_STANDIN_EXIT_AT_ONCE");
    settings.cleanupAtOnce = Switch("KM_STANDIN_CLEANUP_AT_ONCE");
    settings.noWindow = Switch("KM_STANDIN_NO_WINDOW");
    return settings;
}
