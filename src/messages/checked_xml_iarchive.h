// The reading archive of the message records: Boost's XML reading archive
// with a safe check of each end tag.
//
// Boost's own check compares the end tag found in the text with the element
// name it expects by first reading the expected name at the index of the
// found tag's length, so a longer end tag in hostile text makes it read past
// the end of the name. This archive turns Boost's check off and compares
// the two names itself, with the same outcome for every text: an end tag
// other than the expected name fails the read (the outermost excepted).
#pragma once

#include <istream>

#include <boost/archive/xml_iarchive.hpp>

namespace nvmsg {

class CheckedXmlIArchive : public boost::archive::xml_iarchive_impl<CheckedXmlIArchive> {
public:
    /// Reads and checks the archive's header, as xml_iarchive with flags 0.
    explicit CheckedXmlIArchive(std::istream& is);
    ~CheckedXmlIArchive() override;

protected:
    friend class boost::archive::detail::interface_iarchive<CheckedXmlIArchive>;
    friend class boost::archive::basic_xml_iarchive<CheckedXmlIArchive>;
    friend class boost::archive::load_access;

    // Found before the base's versions by the base's element reading.
    void load_start(const char* name);
    void load_end(const char* name);

private:
    unsigned depth_ = 0;
};

} // namespace nvmsg

BOOST_SERIALIZATION_REGISTER_ARCHIVE(nvmsg::CheckedXmlIArchive)
