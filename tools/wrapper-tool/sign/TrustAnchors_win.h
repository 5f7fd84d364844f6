#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "Owned_win.h"

struct CertStoreCloser {
    static HCERTSTORE empty() { return nullptr; }
    static bool none(HCERTSTORE store) { return store == nullptr; }
    static void close(HCERTSTORE store) { CertCloseStore(store, 0); }
};
using CertStore = Owned<HCERTSTORE, CertStoreCloser>;

// The certificates of a PEM file (--ca) in a memory store of their own.
// False, with the reason, when the file cannot be read or holds none.
bool loadTrustAnchors(const std::string& pemPath, CertStore& anchors, std::string& error);

// Whether `signer`'s chain, as of `when` (the time the signature was
// verified for: its timestamp, or now), ends in one of `anchors` and in
// nothing else: built by an engine whose only roots are the anchors, from
// the certificates the signature carries (the signer's own store), with no
// URL fetched. `problem` is empty when it does, else why not;
// `outsideValidity` when a certificate of it was not valid at `when`.
struct AnchorChain {
    std::string problem;
    bool outsideValidity = false;
};
AnchorChain chainToAnchors(PCCERT_CONTEXT signer, const FILETIME& when, HCERTSTORE anchors);
