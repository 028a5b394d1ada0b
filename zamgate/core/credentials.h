// Secrets handed to the gateway by systemd as credentials (LoadCredential= in
// zamgate@.service): the unit copies a root-only file into a folder only the
// service's user can read and names that folder in $CREDENTIALS_DIRECTORY.
// The configuration names a credential (password_credential = "mqtt-password")
// rather than a file.
#ifndef ZAMKT_ZAMGATE_CREDENTIALS_H
#define ZAMKT_ZAMGATE_CREDENTIALS_H

#include <string>

namespace zamgate {

// The file of the named credential in $CREDENTIALS_DIRECTORY. False with the
// reason when the name is not a plain file name, when the gateway does not
// run under a unit that passes credentials, or when the unit passed none by
// that name.
bool CredentialPath(const std::string &name, std::string *path, std::string *why);

// The first line of a secret's file, without its line end (LF or CR LF).
// False when the file cannot be read or is empty.
bool ReadSecretLine(const std::string &path, std::string *secret);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_CREDENTIALS_H
