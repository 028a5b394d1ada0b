#include "zamgate/mqtt/mqtt_config.h"

#include <fstream>
#include <utility>

#include "host/common/text_util.h"
#include "zamgate/core/credentials.h"

namespace zamgate {
namespace {

const std::vector<TableKeys> kMqttKeys = {
    {"mqtt", {"host", "port", "client_id", "username", "password", "password_file", "password_credential", "prefix",
              "keepalive_s", "refresh_s", "qos", "reconnect_max_s", "tls", "topics"}},
    {"mqtt.tls", {"ca_file", "cert_file", "key_file", "key_credential"}},
    {"homeassistant", {"discovery", "prefix"}},
};

}  // namespace

bool ReadMqtt(const toml::table &root, const std::string &configFile, const std::string &gatewayId, MqttConfig *config,
              ConfigRefusal &fail) {
  bool ok;
  const toml::table *mqtt = SubTable(root, "mqtt", kMqttKeys, fail, &ok);
  if (!ok) return false;
  MqttConfig &out = *config;
  out.clientId = "zamgate-" + gatewayId;
  if (mqtt == nullptr) return true;
  std::string passwordFile;
  if (!GetString(*mqtt, "host", &out.host, fail) || !GetInt(*mqtt, "port", 1, 65535, &out.port, fail) ||
      !GetString(*mqtt, "client_id", &out.clientId, fail) || !GetString(*mqtt, "username", &out.username, fail) ||
      !GetString(*mqtt, "password", &out.password, fail) || !GetString(*mqtt, "password_file", &passwordFile, fail) ||
      !GetString(*mqtt, "prefix", &out.prefix, fail) ||
      !GetInt(*mqtt, "keepalive_s", 5, 3600, &out.keepaliveSeconds, fail) ||
      !GetInt(*mqtt, "refresh_s", 1, 86400, &out.refreshSeconds, fail) || !GetInt(*mqtt, "qos", 0, 2, &out.qos, fail) ||
      !GetInt(*mqtt, "reconnect_max_s", 1, 3600, &out.reconnectMaxSeconds, fail) ||
      !GetString(*mqtt, "topics", &out.topics, fail)) {
    return false;
  }
  if (out.topics != "name" && out.topics != "slug" && out.topics != "gas") {
    return fail.At(*mqtt->get("topics"), "topics must be \"name\", \"slug\" or \"gas\", not '" + n2host::Excerpt(out.topics, 64) + "'");
  }
  if (out.prefix.empty() || out.prefix.find_first_of("+#") != std::string::npos || out.prefix.front() == '/' ||
      out.prefix.back() == '/' || out.prefix.find("//") != std::string::npos) {
    return fail.At(*mqtt->get("prefix"), "[mqtt] prefix must be topic levels such as \"n2\" or \"site/n2\": no + or #, "
                                         "no '/' at its start or end, no empty level; not '" +
                                             n2host::Excerpt(out.prefix, 64) + "'");
  }
  // A password systemd passes the unit as a credential (LoadCredential=).
  std::string passwordCredential;
  if (!GetString(*mqtt, "password_credential", &passwordCredential, fail)) return false;
  if (!passwordCredential.empty()) {
    const toml::node &node = *mqtt->get("password_credential");
    if (!passwordFile.empty()) return fail.At(node, "password_credential and password_file: name one");
    std::string path, why;
    if (!CredentialPath(passwordCredential, &path, &why)) return fail.At(node, "password_credential " + why);
    if (!ReadSecretLine(path, &out.password)) {
      return fail.At(node, "password_credential '" + passwordCredential + "': cannot read " + path + " or it is empty");
    }
  }
  if (!passwordFile.empty()) {
    // A password kept out of the configuration file: its first line.
    std::ifstream in(Beside(configFile, passwordFile));
    if (!in || !std::getline(in, out.password)) {
      return fail.At(*mqtt->get("password_file"), "cannot read the password file '" + passwordFile + "'");
    }
    // A file written on Windows ends its line with CR LF: the CR is no part of the password.
    while (!out.password.empty() && (out.password.back() == '\r' || out.password.back() == '\n')) out.password.pop_back();
  }
  const toml::table *tls = SubTable(*mqtt, "tls", kMqttKeys, fail, &ok);
  if (!ok) return false;
  // The table's keys are listed under its full name: a misspelt ca_file
  // must not leave the broker's certificate unchecked without a word.
  if (tls != nullptr && !CheckKeys(*tls, "mqtt.tls", kMqttKeys, fail)) return false;
  if (tls != nullptr) {
    std::string keyCredential;
    if (!GetString(*tls, "ca_file", &out.caFile, fail) || !GetString(*tls, "cert_file", &out.certFile, fail) ||
        !GetString(*tls, "key_file", &out.keyFile, fail) || !GetString(*tls, "key_credential", &keyCredential, fail)) {
      return false;
    }
    if (!keyCredential.empty()) {
      // The client key as a credential: its file in the unit's credentials.
      const toml::node &node = *tls->get("key_credential");
      if (!out.keyFile.empty()) return fail.At(node, "key_credential and key_file: name one");
      std::string why;
      if (!CredentialPath(keyCredential, &out.keyFile, &why)) return fail.At(node, "key_credential " + why);
    }
    if (out.caFile.empty()) return fail.At(*tls, "[mqtt.tls] needs ca_file");
    if (out.certFile.empty() != out.keyFile.empty()) {
      return fail.At(*tls, "[mqtt.tls] cert_file and key_file go together");
    }
    const std::pair<const char *, std::string *> files[] = {
        {"ca_file", &out.caFile}, {"cert_file", &out.certFile}, {"key_file", &out.keyFile}};
    for (const auto &[key, path] : files) {
      if (path->empty()) continue;
      *path = Beside(configFile, *path);
      std::string why;
      if (!IsPemFile(*path, &why)) return fail.At(*tls->get(key), std::string("[mqtt.tls] ") + key + " '" + *path + "' " + why);
    }
  }
  return true;
}

bool ReadHomeAssistant(const toml::table &root, HomeAssistantConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *section = SubTable(root, "homeassistant", kMqttKeys, fail, &ok);
  if (!ok || section == nullptr) return ok;
  HomeAssistantConfig &out = *config;
  if (!GetBool(*section, "discovery", &out.discovery, fail) || !GetString(*section, "prefix", &out.prefix, fail)) return false;
  if (out.prefix.empty() || out.prefix.find_first_of("+#") != std::string::npos || out.prefix.front() == '/' ||
      out.prefix.back() == '/' || out.prefix.find("//") != std::string::npos) {
    return fail.At(*section->get("prefix"), "[homeassistant] prefix must be topic levels such as \"homeassistant\": no + "
                                            "or #, no '/' at its start or end, no empty level; not '" +
                                                n2host::Excerpt(out.prefix, 64) + "'");
  }
  return true;
}

}  // namespace zamgate
