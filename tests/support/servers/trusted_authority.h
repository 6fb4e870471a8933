// The TLS server's test authority in the Wine prefix's trust store, so that WinINet
// accepts its certificates as a user's machine accepts a public authority's.
#pragma once

// Adds the authority (ca.der in the TLS server's pki folder) to the LocalMachine "Root"
// store of this prefix, replacing an earlier copy. Any test program can call it (from
// SetUpTestSuite) on whatever prefix it runs in. False when the file cannot be read or
// the store refuses it.
bool TrustTestAuthority();
