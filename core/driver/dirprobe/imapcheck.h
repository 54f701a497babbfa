/* The IMAP login check of dirprobe, over the IMAP client library (whose headers are C only). */
#ifndef DIRPROBE_IMAPCHECK_H
#define DIRPROBE_IMAPCHECK_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the mailbox of `host` ("{host}" unless it is written "{...}" already) once, logging in
   with user and password on the first attempt only. 1 when the login worked, else 0; the
   library's notices go to the standard error as "IMAP: %s\n". TLS: a "/ssl" mailbox, and
   STARTTLS whenever the server offers it (unless "/notls"); the library checks the server's
   certificate against the system's trust store (SSL_CERT_FILE redirects it) unless the
   mailbox says "/novalidate-cert".
   The check runs in a child process and ends within 30 s whatever the server does, its data
   growing by at most 32 MiB. A check that does not end by itself gives 0 after a notice:
   "IMAP: login check given up after 30 s" at the time bound, "IMAP: login check ended by
   signal %d" (the memory ceiling makes the library abort) or "... ended with status %d". */
int CheckImapLogin(const char *host, const char *user, const char *password);

/* Login attempts the library made during the last check (0 or 1). */
int ImapLoginAttempts(void);

#ifdef __cplusplus
}
#endif

#endif
