// The archive's own instantiation of Boost's reading-archive templates, as
// Boost's documentation describes for an archive derived from its own.
#define BOOST_ARCHIVE_SOURCE
#include "messages/checked_xml_iarchive.h"

#include <cstring>

#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_xml_iarchive.ipp>
#include <boost/archive/impl/xml_iarchive_impl.ipp>
#include <boost/archive/xml_archive_exception.hpp>

namespace boost {
namespace archive {
template class detail::archive_serializer_map<nvmsg::CheckedXmlIArchive>;
template class basic_xml_iarchive<nvmsg::CheckedXmlIArchive>;
template class xml_iarchive_impl<nvmsg::CheckedXmlIArchive>;
} // namespace archive
} // namespace boost

namespace nvmsg {

CheckedXmlIArchive::CheckedXmlIArchive(std::istream& is)
    : boost::archive::xml_iarchive_impl<CheckedXmlIArchive>(is,
                                                            boost::archive::no_xml_tag_checking) {
    init();
}

CheckedXmlIArchive::~CheckedXmlIArchive() = default;

void CheckedXmlIArchive::load_start(const char* name) {
    boost::archive::basic_xml_iarchive<CheckedXmlIArchive>::load_start(name);
    if (name != nullptr) {
        ++depth_;
    }
}

void CheckedXmlIArchive::load_end(const char* name) {
    if (name == nullptr) {
        return;
    }
    boost::archive::basic_xml_iarchive<CheckedXmlIArchive>::load_end(name);
    // The outermost element's end tag is not checked, as in Boost.
    if (--depth_ == 0) {
        return;
    }
    const std::string& found = gimpl->rv.object_name;
    if (found.size() != std::strlen(name) || found.compare(0, found.size(), name) != 0) {
        boost::serialization::throw_exception(boost::archive::xml_archive_exception(
            boost::archive::xml_archive_exception::xml_archive_tag_mismatch, name));
    }
}

} // namespace nvmsg
