// Rows of cells as lines with aligned columns, two blanks apart.
#ifndef ZAMKT_HOST_ZAMHOST_TEXT_TABLE_H
#define ZAMKT_HOST_ZAMHOST_TEXT_TABLE_H

#include <string>
#include <vector>

namespace zamhost {

std::vector<std::string> AlignRows(const std::vector<std::vector<std::string>> &rows);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_TEXT_TABLE_H
