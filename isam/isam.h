/* isam.h: the public interface of the ISAM engine (C-compatible). */
#ifndef QUILLON_ISAM_H
#define QUILLON_ISAM_H

#ifdef __cplusplus
extern "C" {
#endif

extern int ismaxfds; /* descriptor limit; 0 leaves the engine's own */
extern int isdupsiz; /* width of the duplicate counter: 2 or 4 */

#ifdef __cplusplus
}
#endif

#endif
