/* The least a client of the trigger channel can do, for the key latency benchmark: connect to
 * the socket, write one request line, read the answer line. Exit status 0 when the answer is
 * "taken".
 *   bare-trigger-client SOCKET REQUEST */
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0)
        return 1;
    char line[300];
    const size_t size = strlen(argv[2]);
    if (size + 1 > sizeof line)
        return 2;
    memcpy(line, argv[2], size);
    line[size] = '\n';
    if (write(fd, line, size + 1) != (ssize_t)(size + 1))
        return 1;
    char answer[64];
    const ssize_t n = read(fd, answer, sizeof answer);
    return n >= 6 && memcmp(answer, "taken\n", 6) == 0 ? 0 : 1;
}
