// A program built with one public key, as VELTO_UPDATE_PUBLIC_KEYS builds VeltoSetup.exe:
// the stamp test replaces its keys.
int main() { return 0; }
