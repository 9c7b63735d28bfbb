// The resources of an executable as a tree: type, name, language, and the bytes with
// their code page. Read from an image's resource directory with every offset checked,
// and laid out again as the contents of a resource section.
#ifndef PE_RESOURCE_TREE_H
#define PE_RESOURCE_TREE_H

#include "pe/ByteSink.h"
#include "pe/PeImage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Numeric resource types the tools look at.
const uint16_t kResourceTypeIcon = 3;
const uint16_t kResourceTypeBitmap = 2;
const uint16_t kResourceTypeDialog = 5;
const uint16_t kResourceTypeIconGroup = 14;
const uint16_t kResourceTypeVersion = 16;
const uint16_t kResourceTypeManifest = 24;

// A resource type or name: a number or a string (UTF-16 code units as stored; the
// system looks names up in capitals, so callers store them so).
class ResourceId {
public:
    ResourceId(uint16_t number) : m_number(number) {}
    // From ASCII text, stored as it is given.
    static ResourceId Named(const std::string& ascii);
    static ResourceId Named(std::u16string name);

    bool IsName() const { return m_isName; }
    uint16_t Number() const { return m_number; }
    const std::u16string& Name() const { return m_name; }
    // "#103" for a number, the name with other than printable ASCII as \uXXXX.
    std::string Display() const;

    // The order of a resource directory: names first, by code unit, then numbers.
    bool operator<(const ResourceId& other) const;
    bool operator==(const ResourceId& other) const;

private:
    ResourceId() = default;
    bool m_isName = false;
    uint16_t m_number = 0;
    std::u16string m_name;
};

// Bytes of a resource kept outside the tree (a large archive in a file), written out
// when the section is.
class ResourceSource {
public:
    virtual ~ResourceSource() = default;
    virtual uint64_t Size() const = 0;
    // Writes exactly Size() bytes to out; throws when it cannot.
    virtual void WriteTo(ByteSink& out) const = 0;
};

struct ResourceData {
    ResourceData(std::vector<uint8_t> bytes_ = {}, uint32_t codePage_ = 0) : bytes(std::move(bytes_)), codePage(codePage_)
    {
    }

    std::vector<uint8_t> bytes;
    uint32_t codePage = 0;
    // When set, the resource's bytes come from it and bytes is not used.
    std::shared_ptr<const ResourceSource> source;

    uint64_t Size() const { return source ? source->Size() : bytes.size(); }
};

typedef std::map<uint16_t, ResourceData> ResourceLanguages;
typedef std::map<ResourceId, ResourceLanguages> ResourceNames;
typedef std::map<ResourceId, ResourceNames> ResourceTypes;

class ResourceTree {
public:
    // Replaces the resource of that type, name and language, or adds it.
    void Set(const ResourceId& type, const ResourceId& name, uint16_t language, ResourceData data);
    // The resource, or null.
    const ResourceData* Find(const ResourceId& type, const ResourceId& name, uint16_t language) const;
    // Whether the name exists under the type in any language.
    bool Has(const ResourceId& type, const ResourceId& name) const;
    // Removes the name in every language; returns how many resources went.
    size_t Remove(const ResourceId& type, const ResourceId& name);
    // Removes every resource of the type; returns how many went.
    size_t RemoveType(const ResourceId& type);

    const ResourceTypes& Types() const { return m_types; }
    // Number of resources (leaves).
    size_t Count() const;

private:
    ResourceTypes m_types;
};

// Reads the image's resource directory; an image without one gives an empty tree.
// Throws PeError(Malformed or Truncated) for a directory that points outside its
// section, a resource whose data lies outside the file, a loop, or a key (type, name or
// language) listed twice in one table.
// The file may come from anyone: before anything is copied, the tables, data entries,
// names and data it unfolds to are counted per use (as the bytes a directory that
// shares nothing would hold for them), and a directory whose count would pass the
// file's size is refused (Malformed), so memory stays proportional to the file however
// its tables, names or data are shared. unfolded, when given, receives that count, also
// when the read is refused; it never exceeds the file's size.
ResourceTree ReadResources(const PeImage& image, uint64_t* unfolded = nullptr);

// Lays the tree out as a resource section placed at sectionAddress (an RVA): the
// directory tables, the data entries, the name strings (one for each use, so that the
// section reads back within ReadResources' count) and then the data, each resource's
// data aligned to 8 bytes. Throws PeError(NoRoom) past 4 GiB, for a name longer than
// 65535 characters, and for a table of more than 65535 named or numbered entries (the
// counts in a table header are 16 bits).
std::vector<uint8_t> BuildResourceSection(const ResourceTree& tree, uint32_t sectionAddress);

// The same section written to out, its sources streamed; returns its size. The size is
// known before anything is written: ResourceSectionSize.
uint32_t WriteResourceSection(const ResourceTree& tree, uint32_t sectionAddress, ByteSink& out);
uint32_t ResourceSectionSize(const ResourceTree& tree, uint32_t sectionAddress);

#endif
