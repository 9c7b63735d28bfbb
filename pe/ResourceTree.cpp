#include "pe/ResourceTree.h"

#include <algorithm>
#include <cstdio>
#include <set>
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

// What unfolding the directory costs, charged before anything is copied: each entry
// visited, each data entry, each name and each block of data, per use. A directory
// that shares nothing costs at most the bytes its file holds; one whose tables, names
// or data are shared by many entries would unfold to far more (a few kilobytes that
// name one long string from a million entries ask for gigabytes), so the cost may not
// pass the file's size.
class UnfoldBudget {
public:
    explicit UnfoldBudget(uint64_t limit) : m_limit(limit) {}

    void Charge(uint64_t bytes, const char* what)
    {
        if (bytes > m_limit - m_spent)
            Malformed(std::string(what) + " would unfold to more than the " + std::to_string(m_limit) +
                      " bytes the file holds (names, tables or data shared by many entries)");
        m_spent += bytes;
    }
    uint64_t Spent() const { return m_spent; }

private:
    uint64_t m_limit;
    uint64_t m_spent = 0;
};

class DirectoryReader {
public:
    DirectoryReader(const PeImage& image, ByteView directory)
        : m_image(image), m_directory(directory), m_budget(image.Bytes().size())
    {
    }

    void ReadTable(uint32_t offset, int level, const ResourceId* path, ResourceTree& tree)
    {
        uint32_t named = m_directory.U16(offset + kNamedEntriesField, "resource directory table");
        uint32_t ids = m_directory.U16(offset + kIdEntriesField, "resource directory table");
        uint32_t count = named + ids;
        m_directory.Sub(offset, kDirectoryHeaderSize + size_t(count) * kDirectoryEntrySize, "resource directory table");
        m_visited += count;
        if (m_visited > kMaxEntriesVisited)
            Malformed("more than " + std::to_string(kMaxEntriesVisited) + " entries (a loop?)");
        m_budget.Charge(kDirectoryHeaderSize + uint64_t(count) * kDirectoryEntrySize, "the resource directory");

        ResourceId ids3[kLevels] = { 0, 0, 0 };
        for (int i = 0; i < level; ++i)
            ids3[i] = path[i];
        // Two entries of one key would merge into one in the tree, and the system would
        // find only one of them.
        std::set<ResourceId> seen;
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
            if (!seen.insert(ids3[level]).second)
                Malformed(Where(level, ids3) + " lists " + std::string(kLevelNames[level]) + " " +
                          Label(level, ids3[level]) + " twice");
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

    uint64_t Spent() const { return m_budget.Spent(); }

private:
    // The table that holds the entries of level: the root, a type's or a name's.
    static std::string Where(int level, const ResourceId* ids)
    {
        if (level == 0)
            return "the root table";
        if (level == 1)
            return "type " + ids[0].Display();
        return "resource " + ids[0].Display() + "/" + ids[1].Display();
    }

    static std::string Label(int level, const ResourceId& id)
    {
        return level + 1 == kLevels ? std::to_string(id.Number()) : id.Display();
    }

    ResourceId ReadName(uint32_t offset)
    {
        uint16_t length = m_directory.U16(offset, "resource name");
        ByteView text = m_directory.Sub(offset + size_t(2), size_t(length) * 2, "resource name");
        // Counted per use: one string in the file may name any number of entries.
        m_budget.Charge(2 + 2 * uint64_t(length), "the resource names");
        std::u16string name;
        name.reserve(length);
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
        // Leaves that share one block of data would otherwise multiply it in memory.
        m_budget.Charge(kDataEntrySize + uint64_t(size), "the resources' data");
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
    UnfoldBudget m_budget;
    size_t m_visited = 0;
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

// The named and numbered entries of a table; each count is a 16-bit field, so a table
// of more of one kind cannot be written (cutting the count would hide the rest).
template <typename Map>
std::pair<uint16_t, uint16_t> CountEntries(const Map& entries, const std::string& table)
{
    size_t named = 0;
    for (const auto& entry : entries)
        named += IsNamedKey(entry.first) ? 1 : 0;
    size_t numbered = entries.size() - named;
    if (named > 0xFFFF || numbered > 0xFFFF)
        throw PeError(PeFault::NoRoom, table + " has " + std::to_string(named > 0xFFFF ? named : numbered) +
                                           (named > 0xFFFF ? " named" : " numbered") +
                                           " entries; a resource table holds at most 65535 of each kind");
    return { static_cast<uint16_t>(named), static_cast<uint16_t>(numbered) };
}

template <typename Map>
void WriteTableHeader(std::vector<uint8_t>& bytes, uint32_t offset, const Map& entries)
{
    std::pair<uint16_t, uint16_t> counts = CountEntries(entries, std::string());
    PutU16(bytes, offset + kNamedEntriesField, counts.first);
    PutU16(bytes, offset + kIdEntriesField, counts.second);
}

// Writes one entry; a name takes the next of the strings laid out for the names in the
// order the entries are written.
void WriteEntry(std::vector<uint8_t>& bytes, uint32_t at, const ResourceId& id, uint32_t target,
                const std::vector<uint32_t>& strings, size_t& nextString)
{
    uint32_t nameField = id.IsName() ? (strings.at(nextString++) | kHighBit) : id.Number();
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

ResourceTree ReadResources(const PeImage& image, uint64_t* unfolded)
{
    ResourceTree tree;
    if (unfolded != nullptr)
        *unfolded = 0;
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
    try {
        reader.ReadTable(0, 0, nullptr, tree);
    } catch (const PeError&) {
        if (unfolded != nullptr)
            *unfolded = reader.Spent();
        throw;
    }
    if (unfolded != nullptr)
        *unfolded = reader.Spent();
    return tree;
}

namespace {

uint64_t AlignData(uint64_t position)
{
    return (position + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
}

// The directory part of a section (tables, data entries, strings, up to the first
// data) with every data entry filled in, and the size of the whole section.
struct SectionLayout {
    std::vector<uint8_t> directory;
    uint32_t total = 0;
};

SectionLayout LayOutSection(const ResourceTree& tree, uint32_t sectionAddress)
{
    const ResourceTypes& types = tree.Types();
    // Tables: the root, one per type, one per name; then the data entries, the strings
    // and the data. Every table is checked before anything is laid out.
    CountEntries(types, "the root table");
    uint64_t tablesSize = TableSize(types.size());
    size_t leaves = 0;
    // The names in the order their entries are written: the named types, then each
    // type's named names.
    std::vector<const std::u16string*> names;
    for (const auto& type : types) {
        CountEntries(type.second, "type " + type.first.Display());
        tablesSize += TableSize(type.second.size());
        if (type.first.IsName())
            names.push_back(&type.first.Name());
    }
    for (const auto& type : types) {
        for (const auto& name : type.second) {
            CountEntries(name.second, "resource " + type.first.Display() + "/" + name.first.Display());
            tablesSize += TableSize(name.second.size());
            leaves += name.second.size();
            if (name.first.IsName())
                names.push_back(&name.first.Name());
        }
    }
    uint64_t position = tablesSize + uint64_t(leaves) * kDataEntrySize;
    std::vector<uint32_t> strings;
    strings.reserve(names.size());
    for (const std::u16string* text : names) {
        if (text->size() > 0xFFFF)
            throw PeError(PeFault::NoRoom, "a resource name is longer than 65535 characters");
        strings.push_back(static_cast<uint32_t>(std::min<uint64_t>(position, UINT32_MAX)));
        position += 2 + 2 * uint64_t(text->size());
    }
    uint64_t dataStart = AlignData(position);
    uint64_t total = dataStart;
    for (const auto& type : types)
        for (const auto& name : type.second)
            for (const auto& language : name.second)
                total = AlignData(total) + language.second.Size();
    if (total + sectionAddress > UINT32_MAX)
        throw PeError(PeFault::NoRoom, "the resources would pass the 4 GiB an image can address");

    SectionLayout layout;
    layout.total = static_cast<uint32_t>(total);
    std::vector<uint8_t>& bytes = layout.directory;
    bytes.assign(static_cast<size_t>(dataStart), 0);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::u16string& text = *names[i];
        PutU16(bytes, strings[i], static_cast<uint16_t>(text.size()));
        for (size_t unit = 0; unit < text.size(); ++unit)
            PutU16(bytes, strings[i] + 2 + 2 * unit, static_cast<uint16_t>(text[unit]));
    }

    size_t nextString = 0;
    uint32_t nextTable = TableSize(types.size());
    uint32_t nextDataEntry = static_cast<uint32_t>(tablesSize);
    uint64_t nextData = dataStart;
    WriteTableHeader(bytes, 0, types);
    uint32_t rootEntry = kDirectoryHeaderSize;
    // The name tables of all types come first, then the language tables, as the
    // system's own tools lay them out.
    std::vector<std::pair<const ResourceNames*, uint32_t>> nameTables;
    for (const auto& type : types) {
        WriteEntry(bytes, rootEntry, type.first, nextTable | kHighBit, strings, nextString);
        rootEntry += kDirectoryEntrySize;
        nameTables.push_back({ &type.second, nextTable });
        nextTable += TableSize(type.second.size());
    }
    for (const auto& table : nameTables) {
        WriteTableHeader(bytes, table.second, *table.first);
        uint32_t entry = table.second + kDirectoryHeaderSize;
        for (const auto& name : *table.first) {
            WriteEntry(bytes, entry, name.first, nextTable | kHighBit, strings, nextString);
            entry += kDirectoryEntrySize;
            WriteTableHeader(bytes, nextTable, name.second);
            uint32_t languageEntry = nextTable + kDirectoryHeaderSize;
            for (const auto& language : name.second) {
                PutU32(bytes, languageEntry, language.first);
                PutU32(bytes, languageEntry + 4, nextDataEntry);
                languageEntry += kDirectoryEntrySize;

                const ResourceData& data = language.second;
                nextData = AlignData(nextData);
                PutU32(bytes, nextDataEntry, sectionAddress + static_cast<uint32_t>(nextData));
                PutU32(bytes, nextDataEntry + 4, static_cast<uint32_t>(data.Size()));
                PutU32(bytes, nextDataEntry + 8, data.codePage);
                nextDataEntry += kDataEntrySize;
                nextData += data.Size();
            }
            nextTable += TableSize(name.second.size());
        }
    }
    return layout;
}

} // namespace

uint32_t ResourceSectionSize(const ResourceTree& tree, uint32_t sectionAddress)
{
    return LayOutSection(tree, sectionAddress).total;
}

uint32_t WriteResourceSection(const ResourceTree& tree, uint32_t sectionAddress, ByteSink& out)
{
    SectionLayout layout = LayOutSection(tree, sectionAddress);
    const uint64_t start = out.Size();
    out.Write(layout.directory);
    // The data in the order the data entries were filled in: by type, name, language.
    for (const auto& type : tree.Types()) {
        for (const auto& name : type.second) {
            for (const auto& language : name.second) {
                out.PadTo(start + AlignData(out.Size() - start));
                const ResourceData& data = language.second;
                const uint64_t before = out.Size();
                if (data.source)
                    data.source->WriteTo(out);
                else
                    out.Write(data.bytes);
                if (out.Size() - before != data.Size())
                    throw PeError(PeFault::Malformed, "a resource wrote other than its size");
            }
        }
    }
    return layout.total;
}

std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t sectionAddress)
{
    MemorySink out;
    WriteResourceSection(tree, sectionAddress, out);
    return std::move(out.Bytes());
}
