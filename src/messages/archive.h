// Boost.Serialization support shared by the translation units that write and
// read the message records: the collection form of std::vector with a load
// that refuses counts the text cannot hold, and the generic write and read
// of one record as a complete XML archive document.
//
// Only the messages sources include this header. Within the program the
// vector serialisation below replaces <boost/serialization/vector.hpp>,
// which must not be included alongside it.
#pragma once

#include <cstddef>
#include <exception>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/collection_traits.hpp>
#include <boost/serialization/collections_save_imp.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_free.hpp>

#include "messages/checked_xml_iarchive.h"

namespace nvmsg {

/// The smallest text one collection entry can take: "<item>" + "</item>".
constexpr std::size_t kMinItemBytes = 13;

/// Attached to every reading archive: the stream it reads, so that a
/// collection's count can be checked against the text still unread.
struct InputLimit {
    std::istream* stream = nullptr;
};

/// Key of the InputLimit helper in an archive's helper collection.
extern char kInputLimitKey;

/// Thrown when a collection claims more entries than the rest of the text
/// can hold.
struct ImplausibleCount : std::exception {
    const char* what() const noexcept override { return "collection count exceeds the input"; }
};

/// Returns how many bytes of the reading archive's text are still unread,
/// or -1 when the archive carries no InputLimit.
std::ptrdiff_t UnreadBytes(const InputLimit& limit);

/// Checks count against the unread text of ar; throws ImplausibleCount when
/// the text cannot hold that many entries. Returns the number of entries to
/// reserve room for (0 when the input size is unknown).
template <class Archive>
std::size_t CheckCount(Archive& ar, std::size_t count, std::size_t itemSize) {
    const std::ptrdiff_t unread =
        UnreadBytes(ar.template get_helper<InputLimit>(static_cast<void*>(&kInputLimitKey)));
    if (unread < 0) {
        return 0;
    }
    const std::size_t available = static_cast<std::size_t>(unread);
    if (count > available / kMinItemBytes) {
        throw ImplausibleCount();
    }
    // Reserve only what is in proportion to the text; a collection of large
    // entries grows as its entries are actually read.
    return count * itemSize <= available ? count : 0;
}

// ---- text-level checks and fixes (xml_common.cpp) ----

/// Sets the archive library number of a written document to the one engines
/// expect. Returns false when the text has no archive header.
bool SetArchiveLibraryVersion(std::string& text);

/// True when the first element inside the archive's outermost element of
/// text is named root.
bool RootElementIs(const std::string& text, const char* root);

/// Called after the root record was read: true when the text before the
/// stream's position ends with the root's end tag and nothing but the
/// archive's own end tag and white space follow.
bool ArchiveEndsAfterRoot(std::istream& is, const std::string& text, const char* root);

/// Parses the decimal text of a double as the archive writes it, the
/// non-finite values ("nan", "inf", "-inf") included; surrounding white
/// space is allowed. Throws std::invalid_argument for anything else.
double ParseDouble(const std::string& text);

/// Prepares a string stream for an archive: classic number formatting,
/// whatever the process's global locale.
void UseClassicLocale(std::ios& stream);

// ---- whole documents ----

/// Writes rec as a complete archive document with root element root.
template <class T> bool WriteXml(const T& rec, const char* root, std::string& out) noexcept {
    try {
        out.clear();
        std::ostringstream os;
        UseClassicLocale(os);
        {
            boost::archive::xml_oarchive ar(os, 0);
            ar << boost::serialization::make_nvp(root, rec);
        }
        if (!os) {
            return false;
        }
        std::string text = os.str();
        // A NUL inside a string field would cut the text short for every reader.
        if (text.find('\0') != std::string::npos || !SetArchiveLibraryVersion(text)) {
            return false;
        }
        out.swap(text);
        return true;
    } catch (...) {
        out.clear();
        return false;
    }
}

/// Thrown to leave an archive that read its root record but is not followed
/// by the archive's end: the archive then skips reading its end tag.
struct TrailingGarbage : std::exception {
    const char* what() const noexcept override { return "text does not end after the record"; }
};

/// Reads rec (already reset by the caller) from the text of in up to its
/// first NUL character.
template <class T> bool ReadXml(const std::string& in, const char* root, T& rec) noexcept {
    try {
        const std::string text(in.c_str());
        if (!RootElementIs(text, root)) {
            return false;
        }
        std::istringstream is(text);
        UseClassicLocale(is);
        CheckedXmlIArchive ar(is);
        ar.template get_helper<InputLimit>(static_cast<void*>(&kInputLimitKey)).stream = &is;
        ar >> boost::serialization::make_nvp(root, rec);
        if (!ArchiveEndsAfterRoot(is, text, root)) {
            // Leaving by exception keeps the archive's destructor from
            // reading on past the end of the text.
            throw TrailingGarbage();
        }
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace nvmsg

// The archive's collection form of std::vector: "count", "item_version" and
// the "item"s; a vector of bool has no "item_version". Vectors of the
// primitive types carry no class information (the traits below).
namespace boost {
namespace serialization {

template <class Archive, class U, class Allocator>
void save(Archive& ar, const std::vector<U, Allocator>& v, const unsigned int /*version*/) {
    stl::save_collection<Archive, std::vector<U, Allocator>>(ar, v);
}

template <class Archive, class Allocator>
void save(Archive& ar, const std::vector<bool, Allocator>& v, const unsigned int /*version*/) {
    const collection_size_type count(v.size());
    ar << BOOST_SERIALIZATION_NVP(count);
    for (const bool entry : v) {
        ar << make_nvp("item", entry);
    }
}

template <class Archive, class U, class Allocator>
void load(Archive& ar, std::vector<U, Allocator>& v, const unsigned int /*version*/) {
    collection_size_type count;
    ar >> BOOST_SERIALIZATION_NVP(count);
    item_version_type item_version(0);
    if (boost::archive::library_version_type(3) < ar.get_library_version()) {
        ar >> BOOST_SERIALIZATION_NVP(item_version);
    }
    const std::size_t n = count;
    v.clear();
    v.reserve(nvmsg::CheckCount(ar, n, sizeof(U)));
    for (std::size_t i = 0; i < n; ++i) {
        v.emplace_back();
        ar >> make_nvp("item", v.back());
    }
}

template <class Archive, class Allocator>
void load(Archive& ar, std::vector<bool, Allocator>& v, const unsigned int /*version*/) {
    collection_size_type count;
    ar >> BOOST_SERIALIZATION_NVP(count);
    const std::size_t n = count;
    v.clear();
    v.reserve(nvmsg::CheckCount(ar, n, 1));
    for (std::size_t i = 0; i < n; ++i) {
        bool entry = false;
        ar >> make_nvp("item", entry);
        v.push_back(entry);
    }
}

template <class Archive, class U, class Allocator>
void serialize(Archive& ar, std::vector<U, Allocator>& v, const unsigned int version) {
    split_free(ar, v, version);
}

} // namespace serialization
} // namespace boost

BOOST_SERIALIZATION_COLLECTION_TRAITS(std::vector)
