// Separated text: the pair layout (one group per line, item names and values alternating)
// and the table layout (one group per row, one item name per column, under a header line).
// Nothing is quoted or escaped.
#pragma once

#include <string>
#include <string_view>

namespace vellix {

class Store;

// The pair layout: with a group name, that group's row; with an empty one, every group's
// name and row, lines joined by CR LF.
std::string CsvText(const Store& store, std::string_view group, std::string_view separator);
// The table layout, every line ended by CR LF.
std::string CsvTable(const Store& store, std::string_view separator);

// Reads the pair layout: each line's items into the group given, or, when it is empty, into
// the group named by the line's first field. Each line loses its "\r\n" or "\n" first, so
// that what CsvText wrote reads back as it was. An empty separator reads nothing.
void ImportCsvText(Store& store, std::string_view text, std::string_view group,
                   std::string_view separator);
// Reads the table layout; empty cells set nothing.
void ImportCsvTableText(Store& store, std::string_view text, std::string_view separator);

// The same with files: an export replaces the whole file atomically (false when it could
// not be written), an import of a file that cannot be read does nothing.
bool ExportCsv(const std::string& path, const Store& store, std::string_view group,
               std::string_view separator);
bool ExportCsvTable(const std::string& path, const Store& store, std::string_view separator);
bool ImportCsv(const std::string& path, Store& store, std::string_view group,
               std::string_view separator);
bool ImportCsvTable(const std::string& path, Store& store, std::string_view separator);

}  // namespace vellix
