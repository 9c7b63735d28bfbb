#include "demo/StandInReport.h"

#include "stream/WtFileStream.h"

void StandInReport::Add(const char* key, const std::string& value)
{
    m_text += key;
    m_text += '=';
    m_text += value;
    m_text += "\r\n";
}

bool StandInReport::WriteTo(const std::string& path) const
{
    // Written beside and moved into place, so that whoever waits for the report to
    // appear never reads half of it.
    std::string partial = path + ".partial";
    try {
        WtFileStream file(partial.c_str(), WtFileStream::OpenCreate | WtFileStream::AccessWrite);
        file.Write(m_text.data(), static_cast<std::uint32_t>(m_text.size()));
    } catch (WtStreamException* failure) {
        delete failure;
        DeleteFileA(partial.c_str());
        return false;
    }
    return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}
