// Portability shims: names the product's code uses on every platform, mapped
// onto the host's POSIX services or reduced to fixed answers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

int _chdrive(int drive);
int closesocket(int fd);
int ioctlsocket(int fd, unsigned long request, void* argument);
int setruid(int uid);
int setrgid(int gid);
int sighold(int signal_number);
int sigrelse(int signal_number);
int64_t sys_lseek64(int fd, int64_t offset, int whence);
int get_hostname(char* buffer, size_t size);
long my_gethostid();
int get_nodename(char* buffer);
int get_systemname(char* buffer);

}  // namespace zk
