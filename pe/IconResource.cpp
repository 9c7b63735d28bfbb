#include "pe/IconResource.h"

#include "pe/ByteView.h"

#include <algorithm>
#include <set>
#include <string>

namespace {

const uint16_t kIconType = 1;
const size_t kIconDirectorySize = 6;
const size_t kIconFileEntrySize = 16;
const size_t kGroupEntrySize = 14;
const uint16_t kNeutralLanguage = 0;

[[noreturn]] void Malformed(const std::string& message)
{
    throw PeError(PeFault::Malformed, message);
}

} // namespace

std::vector<IconImage> ReadIconFile(const std::vector<uint8_t>& file)
{
    ByteView view(file);
    if (!view.Holds(0, kIconDirectorySize) || view.U16(0, "icon header") != 0 || view.U16(2, "icon header") != kIconType)
        Malformed("not an icon file (.ico)");
    uint16_t count = view.U16(4, "icon header");
    if (count == 0)
        Malformed("the icon file holds no image");
    size_t directoryEnd = kIconDirectorySize + size_t(count) * kIconFileEntrySize;
    view.Sub(0, directoryEnd, "icon directory");
    std::vector<IconImage> images(count);
    // Where each image lies: checked before any is copied, so that images that share
    // their bytes cannot multiply the file in memory.
    struct Extent {
        uint32_t offset;
        uint32_t size;
        uint16_t index;
        bool operator<(const Extent& other) const { return offset < other.offset; }
    };
    std::vector<Extent> extents;
    for (uint16_t i = 0; i < count; ++i) {
        size_t entry = kIconDirectorySize + size_t(i) * kIconFileEntrySize;
        IconImage& image = images[i];
        image.width = view.U8(entry, "icon directory");
        image.height = view.U8(entry + 1, "icon directory");
        image.colorCount = view.U8(entry + 2, "icon directory");
        image.planes = view.U16(entry + 4, "icon directory");
        image.bitCount = view.U16(entry + 6, "icon directory");
        uint32_t size = view.U32(entry + 8, "icon directory");
        uint32_t offset = view.U32(entry + 12, "icon directory");
        std::string label = "icon image " + std::to_string(i + 1);
        if (size == 0)
            Malformed(label + " is empty");
        view.Sub(offset, size, "icon image");
        if (offset < directoryEnd)
            Malformed(label + " overlaps the icon directory (bytes 0 to " + std::to_string(directoryEnd) + ")");
        extents.push_back({ offset, size, i });
    }
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i) {
        const Extent& before = extents[i - 1];
        if (extents[i].offset < uint64_t(before.offset) + before.size) {
            uint16_t first = std::min(before.index, extents[i].index);
            uint16_t second = std::max(before.index, extents[i].index);
            Malformed("icon image " + std::to_string(first + 1) + " and icon image " + std::to_string(second + 1) +
                      " overlap");
        }
    }
    for (const Extent& extent : extents)
        images[extent.index].bytes = view.Copy(extent.offset, extent.size, "icon image");
    return images;
}

std::vector<uint16_t> IconGroupMembers(const std::vector<uint8_t>& group)
{
    ByteView view(group);
    if (!view.Holds(0, kIconDirectorySize) || view.U16(2, "icon group") != kIconType)
        Malformed("an icon group resource is damaged");
    uint16_t count = view.U16(4, "icon group");
    std::vector<uint16_t> members;
    for (uint16_t i = 0; i < count; ++i)
        members.push_back(view.U16(kIconDirectorySize + size_t(i) * kGroupEntrySize + 12, "icon group"));
    return members;
}

void SetIconGroup(ResourceTree& tree, uint16_t groupId, const std::vector<IconImage>& images)
{
    uint16_t language = kNeutralLanguage;
    std::set<uint16_t> usedByOthers;
    std::set<uint16_t> oldMembers;
    auto groups = tree.Types().find(ResourceId(kResourceTypeIconGroup));
    if (groups != tree.Types().end()) {
        for (const auto& name : groups->second) {
            for (const auto& entry : name.second) {
                std::vector<uint16_t> members = IconGroupMembers(entry.second.bytes);
                if (name.first == ResourceId(groupId)) {
                    language = entry.first;
                    oldMembers.insert(members.begin(), members.end());
                } else {
                    usedByOthers.insert(members.begin(), members.end());
                }
            }
        }
    }
    tree.Remove(kResourceTypeIconGroup, groupId);
    for (uint16_t member : oldMembers) {
        if (!usedByOthers.count(member))
            tree.Remove(kResourceTypeIcon, member);
    }

    std::vector<uint8_t> group;
    AppendU16(group, 0);
    AppendU16(group, kIconType);
    AppendU16(group, static_cast<uint16_t>(images.size()));
    uint16_t next = 1;
    for (const IconImage& image : images) {
        while (usedByOthers.count(next) || tree.Has(kResourceTypeIcon, next)) {
            if (next == 0xFFFF)
                throw PeError(PeFault::NoRoom, "no free icon number left");
            ++next;
        }
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colorCount);
        group.push_back(0);
        AppendU16(group, image.planes);
        AppendU16(group, image.bitCount);
        AppendU32(group, static_cast<uint32_t>(image.bytes.size()));
        AppendU16(group, next);
        tree.Set(kResourceTypeIcon, next, language, { image.bytes, 0 });
        ++next;
    }
    tree.Set(kResourceTypeIconGroup, groupId, language, { group, 0 });
}
