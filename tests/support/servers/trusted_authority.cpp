#include "support/servers/trusted_authority.h"

#include <windows.h>
#include <wincrypt.h>

#include "support/servers/test_servers.h"
#include "support/test_support.h"

bool TrustTestAuthority() {
  const std::string der = ReadFileBytes(ServerFolder(TestServer::kTls) + L"\\pki\\ca.der");
  if (der.empty()) return false;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) return false;
  // Wine asks no question when a program adds to the machine's Root store.
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return added != FALSE;
}
