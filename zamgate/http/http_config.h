// The [http] section of the gateway's configuration: where the status page,
// /api/state and the metrics listen. A mistake is refused with
// "FILE:LINE: reason".
#ifndef ZAMKT_ZAMGATE_HTTP_CONFIG_H
#define ZAMKT_ZAMGATE_HTTP_CONFIG_H

#include <string>

#include <toml++/toml.h>

#include "zamgate/core/toml_fields.h"

namespace zamgate {

// [http]: listen = "ADDRESS:PORT"; an empty listen turns the face off.
struct HttpConfig {
  bool enabled = true;
  std::string address = "127.0.0.1";
  int port = 8080;
};

// Reads the [http] table of a parsed configuration, if there is one.
bool ReadHttp(const toml::table &root, HttpConfig *out, ConfigRefusal &fail);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_HTTP_CONFIG_H
