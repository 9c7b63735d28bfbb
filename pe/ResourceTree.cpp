#include "pe/ResourceTree.h"

#include <cstdio>
#include <utility>

namespace {

const uint32_t kDirectoryHeaderSize = 16;
const uint32_t kDirectoryEntrySize = 8;
const uint32_t kDataEntrySize = 16;
const uint32_t kNamedEntriesField = 12;
const uint32_t kIdEntriesField = 14;
const uint32_t kHighBit = 0x80000000u;
const uint32_t kDataAlignment = 8;
// Type, name and language: the depth the system gives the tree.
const int kLevels = 3;
// More than any real program carries; a directory that unfolds to more entries is a
// loop or made to exhaust the reader.
const size_t kMaxEntriesVisited = 1 << 20;

const char* const kLevelNames[kLevels] = { "type", "name", "language" };

[[noreturn]] void Malformed(const std::string& message)
{
    throw PeError(PeFault::Malformed, "resource directory: " + message);
}

class DirectoryReader {
public:
    DirectoryReader(const PeImage& image, ByteView directory) : m_image(image), m_directory(directory) {}

    void ReadTable(uint32_t offset, int level, const ResourceId* path, ResourceTree& tree)
    {
        uint32_t named = m_directory.U16(offset + kNamedEntriesField, "resource directory table");
        uint32_t ids = m_directory.U16(offset + kIdEntriesField, "resource directory table");
        uint32_t count = named + ids;
        m_directory.Sub(offset, kDirectoryHeaderSize + size_t(count) * kDirectoryEntrySize, "resource directory table");
        m_visited += count;
        if (m_visited > kMaxEntriesVisited)
            Malformed("more than " + std::to_string(kMaxEntriesVisited) + " entries (a loop?)");

        ResourceId ids3[kLevels] = { 0, 0, 0 };
        for (int i = 0; i < level; ++i)
            ids3[i] = path[i];
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t entry = offset + kDirectoryHeaderSize + i * kDirectoryEntrySize;
            uint32_t nameField = m_directory.U32(entry, "resource directory entry");
            uint32_t target = m_directory.U32(entry + 4, "resource directory entry");
            bool isName = (nameField & kHighBit) != 0;
            if (isName != (i < named))
                Malformed("a " + std::string(kLevelNames[level]) + " entry is filed among the wrong kind");
            if (isName) {
                ids3[level] = ReadName(nameField & ~kHighBit);
            } else {
                if (nameField > 0xFFFF)
                    Malformed("a " + std::string(kLevelNames[level]) + " number is larger than 65535");
                ids3[level] = ResourceId(static_cast<uint16_t>(nameField));
            }
            bool isTable = (target & kHighBit) != 0;
            if (level + 1 < kLevels) {
                if (!isTable)
                    Malformed(std::string(kLevelNames[level]) + " " + ids3[level].Display() +
                              " holds data where a table belongs");
                ReadTable(target & ~kHighBit, level + 1, ids3, tree);
            } else {
                if (isTable || ids3[level].IsName())
                    Malformed("resource " + ids3[0].Display() + "/" + ids3[1].Display() +
                              " has a language that is not a number");
                ReadData(target, ids3, tree);
            }
        }
    }

private:
    ResourceId ReadName(uint32_t offset)
    {
        uint16_t length = m_directory.U16(offset, "resource name");
        ByteView text = m_directory.Sub(offset + size_t(2), size_t(length) * 2, "resource name");
        std::u16string name;
        for (uint32_t i = 0; i < length; ++i)
            name.push_back(static_cast<char16_t>(text.U16(i * 2, "resource name")));
        if (name.empty())
            Malformed("a resource name is empty");
        return ResourceId::Named(std::move(name));
    }

    void ReadData(uint32_t offset, const ResourceId* ids, ResourceTree& tree)
    {
        uint32_t address = m_directory.U32(offset, "resource data entry");
        uint32_t size = m_directory.U32(offset + 4, "resource data entry");
        uint32_t codePage = m_directory.U32(offset + 8, "resource data entry");
        uint16_t language = ids[2].Number();
        std::string label = "resource " + ids[0].Display() + "/" + ids[1].Display() + "/" + std::to_string(language);
        if (tree.Find(ids[0], ids[1], language) != nullptr)
            Malformed(label + " is listed twice");
        // Leaves that share one block of data would otherwise multiply it in memory.
        m_copied += size;
        if (m_copied > m_image.Bytes().size())
            Malformed("the resources' data adds up to more than the file holds");
        ResourceData data;
        if (size != 0) {
            size_t fileOffset = m_image.FileOffsetOf(address, size, label.c_str());
            data.bytes = m_image.View().Copy(fileOffset, size, label.c_str());
        }
        data.codePage = codePage;
        tree.Set(ids[0], ids[1], language, std::move(data));
    }

    const PeImage& m_image;
    ByteView m_directory;
    size_t m_visited = 0;
    uint64_t m_copied = 0;
};

// Where each table, data entry and string goes, found before anything is written.
struct SectionPlan {
    std::vector<uint8_t> bytes;
    std::map<std::u16string, uint32_t> strings;
};

uint32_t TableSize(size_t entries)
{
    return static_cast<uint32_t>(kDirectoryHeaderSize + entries * kDirectoryEntrySize);
}

bool IsNamedKey(const ResourceId& id)
{
    return id.IsName();
}

bool IsNamedKey(uint16_t)
{
    return false;
}

template <typename Map>
void WriteTableHeader(std::vector<uint8_t>& bytes, uint32_t offset, const Map& entries)
{
    uint16_t named = 0;
    for (const auto& entry : entries)
        named += IsNamedKey(entry.first) ? 1 : 0;
    PutU16(bytes, offset + kNamedEntriesField, named);
    PutU16(bytes, offset + kIdEntriesField, static_cast<uint16_t>(entries.size() - named));
}

void WriteEntry(std::vector<uint8_t>& bytes, uint32_t at, const ResourceId& id, uint32_t target,
                const std::map<std::u16string, uint32_t>& strings)
{
    uint32_t nameField = id.IsName() ? (strings.at(id.Name()) | kHighBit) : id.Number();
    PutU32(bytes, at, nameField);
    PutU32(bytes, at + 4, target);
}

} // namespace

ResourceId ResourceId::Named(const std::string& ascii)
{
    return Named(std::u16string(ascii.begin(), ascii.end()));
}

ResourceId ResourceId::Named(std::u16string name)
{
    ResourceId id;
    id.m_isName = true;
    id.m_name = std::move(name);
    return id;
}

std::string ResourceId::Display() const
{
    if (!m_isName)
        return "#" + std::to_string(m_number);
    std::string text;
    for (char16_t unit : m_name) {
        if (unit >= 0x20 && unit < 0x7F) {
            text += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            text += escaped;
        }
    }
    return text;
}

bool ResourceId::operator<(const ResourceId& other) const
{
    if (m_isName != other.m_isName)
        return m_isName;
    return m_isName ? m_name < other.m_name : m_number < other.m_number;
}

bool ResourceId::operator==(const ResourceId& other) const
{
    return m_isName == other.m_isName && m_number == other.m_number && m_name == other.m_name;
}

void ResourceTree::Set(const ResourceId& type, const ResourceId& name, uint16_t language, ResourceData data)
{
    m_types[type][name][language] = std::move(data);
}

const ResourceData* ResourceTree::Find(const ResourceId& type, const ResourceId& name, uint16_t language) const
{
    auto t = m_types.find(type);
    if (t == m_types.end())
        return nullptr;
    auto n = t->second.find(name);
    if (n == t->second.end())
        return nullptr;
    auto l = n->second.find(language);
    return l == n->second.end() ? nullptr : &l->second;
}

bool ResourceTree::Has(const ResourceId& type, const ResourceId& name) const
{
    auto t = m_types.find(type);
    return t != m_types.end() && t->second.count(name) != 0;
}

size_t ResourceTree::Remove(const ResourceId& type, const ResourceId& name)
{
    auto t = m_types.find(type);
    if (t == m_types.end())
        return 0;
    auto n = t->second.find(name);
    if (n == t->second.end())
        return 0;
    size_t removed = n->second.size();
    t->second.erase(n);
    if (t->second.empty())
        m_types.erase(t);
    return removed;
}

size_t ResourceTree::RemoveType(const ResourceId& type)
{
    auto t = m_types.find(type);
    if (t == m_types.end())
        return 0;
    size_t removed = 0;
    for (const auto& name : t->second)
        removed += name.second.size();
    m_types.erase(t);
    return removed;
}

size_t ResourceTree::Count() const
{
    size_t count = 0;
    for (const auto& type : m_types)
        for (const auto& name : type.second)
            count += name.second.size();
    return count;
}

ResourceTree ReadResources(const PeImage& image)
{
    ResourceTree tree;
    PeDataDirectory root = image.Directory(kPeDirResource);
    if (root.address == 0 && root.size == 0)
        return tree;
    int index = image.SectionOf(root.address);
    if (index < 0)
        Malformed("it lies in no section");
    const PeSection& section = image.Sections()[index];
    uint32_t inside = root.address - section.virtualAddress;
    if (inside >= section.rawSize)
        Malformed("it lies outside its section's file data");
    // Offsets in the directory count from its start and may reach the end of the section.
    ByteView directory = image.View().Sub(size_t(section.rawPointer) + inside, section.rawSize - inside,
                                          "resource directory");
    DirectoryReader reader(image, directory);
    reader.ReadTable(0, 0, nullptr, tree);
    return tree;
}

std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t sectionAddress)
{
    const ResourceTypes& types = tree.Types();
    // Tables: the root, one per type, one per name; then the data entries, the strings
    // and the data.
    uint64_t tablesSize = TableSize(types.size());
    size_t leaves = 0;
    std::map<std::u16string, uint32_t> strings;
    for (const auto& type : types) {
        tablesSize += TableSize(type.second.size());
        if (type.first.IsName())
            strings[type.first.Name()] = 0;
        for (const auto& name : type.second) {
            tablesSize += TableSize(name.second.size());
            leaves += name.second.size();
            if (name.first.IsName())
                strings[name.first.Name()] = 0;
        }
    }
    uint64_t position = tablesSize + uint64_t(leaves) * kDataEntrySize;
    for (auto& text : strings) {
        if (text.first.size() > 0xFFFF)
            throw PeError(PeFault::NoRoom, "a resource name is longer than 65535 characters");
        text.second = static_cast<uint32_t>(position);
        position += 2 + 2 * uint64_t(text.first.size());
    }
    uint64_t dataStart = (position + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
    uint64_t total = dataStart;
    for (const auto& type : types)
        for (const auto& name : type.second)
            for (const auto& language : name.second)
                total = (total + kDataAlignment - 1) / kDataAlignment * kDataAlignment + language.second.bytes.size();
    if (total + sectionAddress > UINT32_MAX)
        throw PeError(PeFault::NoRoom, "the resources would pass the 4 GiB an image can address");

    std::vector<uint8_t> bytes(static_cast<size_t>(dataStart), 0);
    bytes.reserve(static_cast<size_t>(total));
    for (const auto& text : strings) {
        PutU16(bytes, text.second, static_cast<uint16_t>(text.first.size()));
        for (size_t i = 0; i < text.first.size(); ++i)
            PutU16(bytes, text.second + 2 + 2 * i, static_cast<uint16_t>(text.first[i]));
    }

    uint32_t nextTable = TableSize(types.size());
    uint32_t nextDataEntry = static_cast<uint32_t>(tablesSize);
    WriteTableHeader(bytes, 0, types);
    uint32_t rootEntry = kDirectoryHeaderSize;
    // The name tables of all types come first, then the language tables, as the
    // system's own tools lay them out.
    std::vector<std::pair<const ResourceNames*, uint32_t>> nameTables;
    for (const auto& type : types) {
        WriteEntry(bytes, rootEntry, type.first, nextTable | kHighBit, strings);
        rootEntry += kDirectoryEntrySize;
        nameTables.push_back({ &type.second, nextTable });
        nextTable += TableSize(type.second.size());
    }
    for (const auto& table : nameTables) {
        WriteTableHeader(bytes, table.second, *table.first);
        uint32_t entry = table.second + kDirectoryHeaderSize;
        for (const auto& name : *table.first) {
            WriteEntry(bytes, entry, name.first, nextTable | kHighBit, strings);
            entry += kDirectoryEntrySize;
            WriteTableHeader(bytes, nextTable, name.second);
            uint32_t languageEntry = nextTable + kDirectoryHeaderSize;
            for (const auto& language : name.second) {
                PutU32(bytes, languageEntry, language.first);
                PutU32(bytes, languageEntry + 4, nextDataEntry);
                languageEntry += kDirectoryEntrySize;

                PadTo(bytes, kDataAlignment);
                const ResourceData& data = language.second;
                PutU32(bytes, nextDataEntry, sectionAddress + static_cast<uint32_t>(bytes.size()));
                PutU32(bytes, nextDataEntry + 4, static_cast<uint32_t>(data.bytes.size()));
                PutU32(bytes, nextDataEntry + 8, data.codePage);
                nextDataEntry += kDataEntrySize;
                bytes.insert(bytes.end(), data.bytes.begin(), data.bytes.end());
            }
            nextTable += TableSize(name.second.size());
        }
    }
    return bytes;
}
