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
    try {
        WtFileStream file(path.c_str(), WtFileStream::OpenCreate | WtFileStream::AccessWrite);
        file.Write(m_text.data(), static_cast<std::uint32_t>(m_text.size()));
        return true;
    } catch (WtStreamException* failure) {
        delete failure;
        return false;
    }
}
