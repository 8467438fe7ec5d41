// The pair (application error code, system error code) that the last
// recorded failure left, appended to the install and catalogue failure
// messages as "\r\nErrorCode = %d(%d)". Each thread has its own, so that
// transfers running side by side never mix halves of two failures; a worker
// hands its pair to the window's thread when it ends.
#pragma once

#include <windows.h>

#include <string>

struct LastErrorPair {
    DWORD dwAppError;   // 1001..1030, see the codes below
    DWORD dwSysError;   // GetLastError() of the failing system call
};

extern thread_local LastErrorPair LastError;

enum : DWORD {
    ERR_CREATE_FOLDER      = 1001,  // a folder could not be created
    ERR_INTERNET_OPEN      = 1002,  // an Internet handle could not be opened
    ERR_OPEN_URL           = 1003,  // a URL could not be opened
    ERR_UNTRUSTED_URL      = 1004,  // a download URL failed the trust check
    ERR_HTTP_STATUS        = 1005,  // the HTTP status was not 200
    ERR_LOCAL_FILE         = 1006,  // a local file could not be created or opened
    ERR_LENGTH_MISMATCH    = 1007,  // received length differs from the announced one
    ERR_XML_PARSE          = 1008,  // an XML document did not parse
    ERR_EXTRACT            = 1009,  // archive extraction failed
    ERR_CRACK_URL          = 1010,  // a URL could not be split
    ERR_NO_CATALOGUE_URL   = 1011,  // the parameter document gave no catalogue address
    ERR_SOURCE_HOST        = 1013,  // the SOURCE URL had no host
    ERR_COPY_DESTINATION   = 1014,  // copying into the destination failed
    ERR_BAD_SIGNATURE      = 1015,  // the catalogue's signature is missing, unreadable or does not verify
    ERR_HASH_MISMATCH      = 1016,  // the downloaded file's SHA-256 differs from the catalogue's
    ERR_CATALOGUE_REPLAYED = 1017,  // a signed catalogue older (lower SERIAL) than one already accepted
    ERR_CATALOGUE_EXPIRED  = 1018,  // a signed catalogue whose EXPIRES has passed (or cannot be read)
    ERR_CATALOGUE_UNBOUND  = 1019,  // a signed catalogue for another MODE, or without SERIAL or MODE
    ERR_TRANSFER_TOO_LARGE = 1020,  // a transfer announced or sent more bytes than its bound
    ERR_TRANSFER_STALLED   = 1021,  // a transfer moved too few bytes for too long
    ERR_CERTIFICATE        = 1022,  // an https server's certificate was refused (chain, host name, validity)
    ERR_KEYS_NOT_NEXT      = 1023,  // a keys document that is not the next version (older, or not chained)
    ERR_KEYS_THRESHOLD     = 1024,  // a keys document signed by fewer root keys than a threshold asks
    ERR_KEYS_EXPIRED       = 1025,  // a keys document whose EXPIRES has passed, or that has none
    ERR_KEYS_UNREADABLE    = 1026,  // a keys document or its signatures that cannot be read
    ERR_SIGNER_UNSIGNED    = 1027,  // a component that must be signed carries no code signature
    ERR_SIGNER_TAMPERED    = 1028,  // a component's bytes differ from what its code signature covers
    ERR_SIGNER_NOT_PINNED  = 1029,  // a component signed by a publisher not pinned for its item
    ERR_SIGNER_NOT_VALID   = 1030,  // a component whose signer's certificate was not valid when it signed
};

// Records a failure: the application code and the system error code.
void RecordLastError(DWORD appError, DWORD sysError);

// "\r\nErrorCode = %d(%d)" with the current pair.
std::string LastErrorSuffix();
