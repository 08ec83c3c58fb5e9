// Authenticode signing of installers with osslsigncode, and checking a signature. The
// signature is the PE certificate table, appended after the payload; the engine never reads
// it, and `list`, `verify` and `extract` know it as the file's tail.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace mw::packager {

// What signs: a certificate and its private key (PEM or DER files), or a PKCS#12 file. A
// password (of the key or of the PKCS#12 file) is taken from the environment variable named
// here, so it never stands in a project file or on a command line.
struct SigningSettings {
  std::filesystem::path certificate;
  std::filesystem::path key;
  std::filesystem::path pkcs12;
  std::string passwordVariable;  // empty: no password
  std::string timestampUrl;      // an RFC 3161 time-stamping service; empty: none
  std::string description;       // shown by Windows as the signed program's name; may be empty
};

class SigningError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Why the settings cannot sign (missing files, both or neither of the two ways, a password
// variable that is not set), or empty.
std::string signingProblem(const SigningSettings& settings);

// Signs `input` into `output` (which may be the same file): written under a temporary name and
// renamed only when osslsigncode succeeded and the result reads as a signed installer. Throws
// SigningError.
void signInstaller(const std::filesystem::path& input, const std::filesystem::path& output,
                   const SigningSettings& settings);

struct SignatureCheck {
  bool checked = false;   // osslsigncode could be run
  bool matches = false;   // the signature is sound and its digest is that of the file's bytes
  bool trusted = false;   // and its certificate chains to the system's certificate store
  bool digestMismatch = false;  // the signature is readable but the bytes it covers changed
  std::string detail;     // what osslsigncode reported, when something failed
};

// Checks the signature of a signed file with osslsigncode: once against the system's
// certificate store, and, when that fails, once more trusting the certificates the signature
// carries, which tells a signature that matches the bytes from one that does not.
SignatureCheck checkSignature(const std::filesystem::path& installer);

}  // namespace mw::packager
