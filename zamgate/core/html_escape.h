// Text made safe inside HTML: the status page and the sections every face
// adds to it (gate names, events, listen addresses) go through it.
#ifndef ZAMKT_ZAMGATE_HTML_ESCAPE_H
#define ZAMKT_ZAMGATE_HTML_ESCAPE_H

#include <string>

namespace zamgate {

// & < > " ' as entities; everything else as it is.
std::string HtmlEscape(const std::string &text);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_HTML_ESCAPE_H
