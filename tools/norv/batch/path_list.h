// Lists of paths, as --from-list and --from-list0 read them and the rerun
// list is written: one path a line, or each ended by a NUL, which carries
// every name a file system allows (line feeds and carriage returns too).
#pragma once

#include <string>
#include <vector>

namespace norv {

enum class ListForm { Lines, Nul };

/// The paths of a list; "-" reads standard input. A UTF-8 byte-order mark
/// at the start is not part of the first path, and empty entries are left
/// out; in the line form a line's carriage return (a list written on
/// Windows) is not part of its path. Throws ShardError when the list
/// cannot be read.
std::vector<std::string> ReadPathList(const std::string& file, ListForm form);

/// Whether path can be written into a list of the form and read back the
/// same: in the line form, not one holding a line feed or carriage return.
bool FitsList(const std::string& path, ListForm form);

/// Writes paths in the form, each ended by its separator (a line feed on
/// every system, or a NUL). Throws Failure when it cannot be written.
void WritePathList(const std::string& file, const std::vector<std::string>& paths, ListForm form);

/// A digest of a list of paths in its order, as hex text: a batch's shards
/// and its reports tell by it that they come from the same list.
std::string ListDigest(const std::vector<std::string>& paths);

/// A 64-bit FNV-1a digest of text, as 16 hex digits.
std::string TextDigest(const std::string& text);

} // namespace norv
