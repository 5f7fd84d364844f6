#pragma once
#include <memory>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

// One owner per libcrypto object the verifier makes, so that every path out
// of a check frees what it made.
template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using OpenSslOwner = std::unique_ptr<T, OpenSslFree<T, Free>>;

using OwnedBio = OpenSslOwner<BIO, BIO_free_all>;
using OwnedDigestContext = OpenSslOwner<EVP_MD_CTX, EVP_MD_CTX_free>;
using OwnedPkcs7 = OpenSslOwner<PKCS7, PKCS7_free>;
using OwnedStore = OpenSslOwner<X509_STORE, X509_STORE_free>;
using OwnedStoreContext = OpenSslOwner<X509_STORE_CTX, X509_STORE_CTX_free>;
using OwnedAlgorithm = OpenSslOwner<X509_ALGOR, X509_ALGOR_free>;
using OwnedObject = OpenSslOwner<ASN1_OBJECT, ASN1_OBJECT_free>;
using OwnedTimestampInfo = OpenSslOwner<TS_TST_INFO, TS_TST_INFO_free>;
using OwnedSignerInfo = OpenSslOwner<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using OwnedTimestampVerify = OpenSslOwner<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;

inline void freeAsn1Sequence(STACK_OF(ASN1_TYPE) * items)
{
    sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
}
using OwnedAsn1Sequence = OpenSslOwner<STACK_OF(ASN1_TYPE), freeAsn1Sequence>;
