/* IMAP login check with the IMAP client library, and the application callbacks it requires. */
#include "imapcheck.h"

#include <c-client/c-client.h>

#include <stdio.h>
#include <string.h>

#include "os/textcopy.h"

/* The credentials of the running check, handed to the library on its first attempt only. */
static const char *loginUser = "";
static const char *loginPassword = "";
static int loginAttempts = 0;
static int driversLinked = 0;

int ImapLoginAttempts(void)
{
    return loginAttempts;
}

/* The library's TLS start for STARTTLS, wrapped: by itself it offers a TLS 1.0 handshake only,
   which current servers and the system's TLS settings refuse. Without the flag the handshake
   offers every version that both sides allow; the certificate checks stay the library's. */
static sslstart_t libraryStartTls = NIL;

static void *StartTls(void *stream, char *host, unsigned long flags)
{
    return libraryStartTls(stream, host, flags & ~NET_TLSCLIENT);
}

int CheckImapLogin(const char *host, const char *user, const char *password)
{
    char mailbox[1024];
    MAILSTREAM *stream;

    if (!driversLinked) {
        mail_link(&imapdriver);
        mail_link(&pop3driver);
        auth_link(&auth_md5);
        auth_link(&auth_log);
        /* TLS for "/ssl" mailboxes and servers that offer STARTTLS. */
        ssl_onceonlyinit();
        libraryStartTls = (sslstart_t)mail_parameters(NIL, GET_SSLSTART, NIL);
        if (libraryStartTls)
            mail_parameters(NIL, SET_SSLSTART, (void *)StartTls);
        /* Straight to the IMAP port: no pre-authenticated rsh session to the mail host first. */
        mail_parameters(NIL, SET_RSHTIMEOUT, (void *)0);
        driversLinked = 1;
    }
    loginUser = user ? user : "";
    loginPassword = password ? password : "";
    if (host[0] == '{')
        snprintf(mailbox, sizeof mailbox, "%s", host);
    else
        snprintf(mailbox, sizeof mailbox, "{%s}", host);
    loginAttempts = 0;
    stream = mail_open(NIL, mailbox, NIL);
    if (!stream)
        return 0;
    mail_close_full(stream, NIL);
    return 1;
}

void mm_login(NETMBX *mb, char *user, char *pwd, long trial)
{
    (void)mb;
    (void)trial;
    if (loginAttempts == 0) {
        TextCopy(user, MAILTMPLEN, loginUser);
        TextCopy(pwd, MAILTMPLEN, loginPassword);
        loginAttempts = 1;
    } else {
        /* An empty user name makes the library give up: one attempt only. */
        user[0] = '\0';
        pwd[0] = '\0';
        loginAttempts = 0;
    }
}

void mm_notify(MAILSTREAM *stream, char *string, long errflg)
{
    (void)stream;
    (void)errflg;
    fprintf(stderr, "IMAP: %s\n", string);
}

void mm_log(char *string, long errflg)
{
    (void)errflg;
    fprintf(stderr, "IMAP: %s\n", string);
}

long mm_diskerror(MAILSTREAM *stream, long errcode, long serious)
{
    (void)stream;
    (void)errcode;
    (void)serious;
    return 0;
}

void mm_searched(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_exists(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_expunged(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_flags(MAILSTREAM *stream, unsigned long number)
{
    (void)stream;
    (void)number;
}
void mm_list(MAILSTREAM *stream, int delimiter, char *name, long attributes)
{
    (void)stream;
    (void)delimiter;
    (void)name;
    (void)attributes;
}
void mm_lsub(MAILSTREAM *stream, int delimiter, char *name, long attributes)
{
    (void)stream;
    (void)delimiter;
    (void)name;
    (void)attributes;
}
void mm_status(MAILSTREAM *stream, char *mailbox, MAILSTATUS *status)
{
    (void)stream;
    (void)mailbox;
    (void)status;
}
void mm_dlog(char *string)
{
    (void)string;
}
void mm_critical(MAILSTREAM *stream)
{
    (void)stream;
}
void mm_nocritical(MAILSTREAM *stream)
{
    (void)stream;
}
void mm_fatal(char *string)
{
    (void)string;
}
