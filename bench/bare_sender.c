/* bare_sender: the least work that puts the play list's traffic on the air,
 * the floor the headless runner's CPU is measured against. Every cycle it
 * sends one section of PACKETS 188-byte datagrams to 224.1.1.1:10001 with
 * 10 ms after each, and then waits PERIOD ms more, as the runner does; no
 * threads, no encoding, no log. Refuses to run outside the private network
 * namespace of scripts/netns-exec.
 *
 * Usage: bare_sender PACKETS PERIOD_MS SECONDS */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static void Sleep(long ms) {
  struct timespec d;
  clock_gettime(CLOCK_MONOTONIC, &d);
  d.tv_nsec += ms * 1000000L;
  while (d.tv_nsec >= 1000000000L) {
    d.tv_nsec -= 1000000000L;
    ++d.tv_sec;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &d, NULL) == EINTR) {
  }
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: bare_sender PACKETS PERIOD_MS SECONDS\n");
    return 2;
  }
  if (getenv("IPTV_PRIVATE_NETNS") == NULL) {
    fprintf(stderr, "bare_sender: run me through scripts/netns-exec\n");
    return 77;
  }
  const int packets = atoi(argv[1]);
  const long period = atol(argv[2]);
  const long seconds = atol(argv[3]);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 1;
  const int ttl = 128;
  setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
  struct sockaddr_in to;
  memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(10001);
  to.sin_addr.s_addr = inet_addr("224.1.1.1");
  unsigned char packet[188];
  memset(packet, 0xFF, sizeof packet);
  packet[0] = 0x47;
  packet[2] = 0x10;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  unsigned cc = 0;
  for (;;) {
    for (int i = 0; i < packets; ++i) {
      if (i != 0) Sleep(10);
      packet[1] = i == 0 ? 0x40 : 0x00;
      packet[3] = (unsigned char)(0x10 | (cc++ & 0x0F));
      sendto(fd, packet, sizeof packet, 0, (const struct sockaddr*)&to, sizeof to);
    }
    Sleep(10 + period);
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= seconds) break;
  }
  close(fd);
  return 0;
}
