#include "zamgate/http/http_config.h"

#include <stdlib.h>

namespace zamgate {
namespace {

const std::vector<TableKeys> kHttpKeys = {
    {"http", {"listen"}},
};

}  // namespace

bool ReadHttp(const toml::table &root, HttpConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *http = SubTable(root, "http", kHttpKeys, fail, &ok);
  if (!ok || http == nullptr) return ok;
  std::string listen = "127.0.0.1:8080";
  if (!GetString(*http, "listen", &listen, fail)) return false;
  if (listen.empty()) {
    config->enabled = false;
    return true;
  }
  size_t colon = listen.rfind(':');
  std::string portText = colon == std::string::npos ? "" : listen.substr(colon + 1);
  char *end = nullptr;
  long port = strtol(portText.c_str(), &end, 10);
  if (colon == std::string::npos || colon == 0 || portText.empty() || *end != '\0' || port < 0 || port > 65535) {
    return fail.At(*http->get("listen"), "listen must read ADDRESS:PORT (e.g. \"127.0.0.1:8080\"), not '" + listen + "'");
  }
  config->address = listen.substr(0, colon);
  config->port = static_cast<int>(port);
  return true;
}

}  // namespace zamgate
