// The device's secure-socket interface: the socket option that puts a socket
// in TLS mode, the control code that installs a certificate-validation hook
// and the one that names the server. The device SDK declares them in
// <sslsock.h>; where that header is missing (desktop Windows, or an SDK that
// leaves it out) the few values are defined here from their documented
// values.
//
// TASKCLIENT_HAVE_SSLSOCK_H set to 1 uses the SDK's header, 0 uses ours; left
// undefined, the compiler is asked (__has_include) where it can tell.
#ifndef TASKCLIENT_PLATFORM_WINCE_SECURE_SOCKET_H
#define TASKCLIENT_PLATFORM_WINCE_SECURE_SOCKET_H

#include <winsock2.h>
#include <windows.h>

#if !defined(TASKCLIENT_HAVE_SSLSOCK_H)
#if defined(__has_include)
#if __has_include(<sslsock.h>)
#define TASKCLIENT_HAVE_SSLSOCK_H 1
#endif
#endif
#endif

#if defined(TASKCLIENT_HAVE_SSLSOCK_H) && TASKCLIENT_HAVE_SSLSOCK_H
#include <sslsock.h>
#else

// Socket option (level SOL_SOCKET) selecting the socket's security protocol,
// and its value for SSL/TLS.
#ifndef SO_SECURE
#define SO_SECURE 0x2001
#endif
#ifndef SO_SEC_SSL
#define SO_SEC_SSL 0x2004
#endif

// WSAIoctl code installing the hook the secure layer calls to have the
// server's certificate chain accepted or rejected.
#ifndef SO_SSL_SET_VALIDATE_CERT_HOOK
#define SO_SSL_SET_VALIDATE_CERT_HOOK 0x90730008
#endif

// The hook's answers: the certificate accepted, or refused as unknown.
#ifndef SSL_ERR_OKAY
#define SSL_ERR_OKAY 0
#endif
#ifndef SSL_ERR_CERT_UNKNOWN
#define SSL_ERR_CERT_UNKNOWN 8
#endif

// The hook: certificate type, the hook argument, chain length, the chain,
// flags.
typedef int(CALLBACK* SSLVALIDATECERTFUNC)(DWORD dwType, LPVOID pvArg, DWORD dwChainLen, LPBLOB pCertChain,
                                            DWORD dwFlags);

// The record handed to SO_SSL_SET_VALIDATE_CERT_HOOK: the hook, then its
// argument (two pointer-sized fields, 8 bytes on the device).
typedef struct {
  SSLVALIDATECERTFUNC HookFunc;
  LPVOID pvArg;
} SSLVALIDATECERTHOOK, *PSSLVALIDATECERTHOOK;

#endif

// WSAIoctl code handing the secure layer the server's host name (a
// NUL-terminated narrow string), from Windows CE 5.0 on. Composed as the
// SDK's header composes it: IOC_OUT (0x40000000), the secure-socket vendor
// family ((2 << 27) | 0x730000) and the peer-name tag 0x0f. An SDK header
// older than the control code leaves it out, hence the value here.
#ifndef SO_SSL_SET_PEERNAME
#define SO_SSL_SET_PEERNAME 0x5073000F
#endif

#endif
