#include "zamgate/core/credentials.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace zamgate {

bool CredentialPath(const std::string &name, std::string *path, std::string *why) {
  // systemd's own rule for a credential's name: a file name, no folder.
  if (name.empty() || name.size() > 255 || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    *why = "is not a credential name (a file name without '/')";
    return false;
  }
  const char *folder = getenv("CREDENTIALS_DIRECTORY");
  if (folder == nullptr || folder[0] == '\0') {
    *why = "'" + name +
           "' comes from systemd, and no credentials were passed ($CREDENTIALS_DIRECTORY is not set): run it as "
           "zamgate@<bus>.service with LoadCredential=" + name + ":...";
    return false;
  }
  *path = std::string(folder) + "/" + name;
  if (access(path->c_str(), R_OK) != 0) {
    *why = "'" + name + "' was not passed by the unit: no readable " + *path +
           " (LoadCredential=" + name + ":... and its file, mode 0600 root)";
    return false;
  }
  return true;
}

bool ReadSecretLine(const std::string &path, std::string *secret) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return false;
  *secret = line;
  return true;
}

}  // namespace zamgate
