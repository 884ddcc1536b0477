// The resource tree of an executable as plain data (type -> name -> language -> bytes), read from
// and written to the bytes of a resource section.
#pragma once

#include "bytes.h"
#include "pe_image.h"

#include <map>
#include <string>

// A resource type or name: a 16-bit id or a UTF-16 name. Names sort first (by their upper-case
// form, as the loader searches them), then ids ascending: the order Windows requires.
struct ResId {
    bool IsName = false;
    uint16_t Id = 0;
    std::u16string Name;

    static ResId FromId(uint16_t id);
    static ResId FromName(const std::u16string& name);
    bool operator<(const ResId& other) const;
    bool operator==(const ResId& other) const;
    // "123" or "\"NAME\"" for messages.
    std::string ToString() const;
};

struct ResData {
    Bytes Data;
    uint32_t CodePage = 0; // the data entry's code page field, kept as read

    bool operator==(const ResData& other) const
    {
        return Data == other.Data && CodePage == other.CodePage;
    }
};

using ResLanguages = std::map<uint16_t, ResData>;
using ResNames = std::map<ResId, ResLanguages>;
using ResourceTree = std::map<ResId, ResNames>;

// Resource types used by the builder.
enum : uint16_t {
    RES_ICON = 3, RES_BITMAP = 2, RES_STRING = 6, RES_RCDATA = 10, RES_GROUP_ICON = 14,
    RES_VERSION = 16, RES_MANIFEST = 24
};

// Language of the launcher's own resources (English, United States).
const uint16_t LANG_EN_US = 0x409;

// The most entries a resource tree read from a file may have, at all levels together.
const uint32_t RES_MAX_ENTRIES = 65536;

// Reads the resource tree of an image; throws BuildError when it has none or it is malformed: a
// directory used twice (so at most three levels, each read once), more than RES_MAX_ENTRIES entries,
// or names and data that add up to more than the file (parts used again and again).
ResourceTree ReadResourceTree(const PeImage& image);
// Lays out a resource section for the given RVA: directories breadth first, data entries, names,
// then the data aligned to 8 bytes. Time stamps are zero, so equal trees give equal bytes.
Bytes WriteResourceTree(const ResourceTree& tree, uint32_t sectionRva);
// The language of an existing entry (type, name), or fallback when it does not exist.
uint16_t ExistingLanguage(const ResourceTree& tree, const ResId& type, const ResId& name,
                          uint16_t fallback);
// Sets the data of (type, name), in the entry's existing language when it has exactly one, so that
// the entry is replaced and not duplicated; otherwise in LANG_EN_US.
void SetResource(ResourceTree& tree, uint16_t type, const ResId& name, Bytes data);
// The data of (type, name) in LANG_EN_US or else in the first language it has; null when absent.
const Bytes* FindResource(const ResourceTree& tree, uint16_t type, const ResId& name);
