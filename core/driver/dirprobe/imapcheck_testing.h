/* Test seam of the IMAP login check: its whole bound, 30 s unless set. */
#ifndef DIRPROBE_IMAPCHECK_TESTING_H
#define DIRPROBE_IMAPCHECK_TESTING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the time after which the check is given up, in milliseconds; 0 or less: 30 s again. */
void ImapCheckSetBoundMs(long ms);

#ifdef __cplusplus
}
#endif

#endif
