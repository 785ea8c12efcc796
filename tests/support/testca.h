#pragma once
// A certificate authority made for one test (openssl), and a server certificate it signed for
// 127.0.0.1; clients are handed the authority's certificate.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/testenv.h"

namespace testenv {

struct TestCa {
  std::filesystem::path caCert, serverCert, serverKey;
  bool ok = false;
};

inline bool HaveOpenssl() { return std::system("command -v openssl >/dev/null 2>&1") == 0; }

inline TestCa MakeTestCa() {
  const std::filesystem::path d = makeDir("ca");
  TestCa ca{d / "ca.pem", d / "server.pem", d / "server.key", false};
  const std::string q = "'" + d.string() + "'";
  writeFile(d / "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
  const std::string script =
      "cd " + q + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
      "-subj '/CN=Test CA' >/dev/null 2>&1 && openssl req -newkey rsa:2048 -nodes -keyout server.key "
      "-out server.csr -subj '/CN=127.0.0.1' >/dev/null 2>&1 && openssl x509 -req -in server.csr -CA ca.pem "
      "-CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile server.ext >/dev/null 2>&1";
  ca.ok = std::system(script.c_str()) == 0;
  return ca;
}

}  // namespace testenv
