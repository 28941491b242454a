/* A fast stand-in for the ledger service on loopback, for the end-to-end benchmark:
 * HTTP/1.1 with keep-alive, one thread per connection. Request bodies are read and
 * discarded; GET .../health under a base path "/b/N" answers a prepared JSON array of
 * records of at most N bytes, POST .../auth/login a token, anything else "{}".
 * Prints its port on the first line of standard output. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

enum { kHeaderRoom = 65536, kDiscardRoom = 1 << 20, kMaxBodies = 16 };

struct Body {
  size_t limit;
  char* text;
  size_t length;
};

static struct Body bodies[kMaxBodies];
static int bodyCount;
static pthread_mutex_t bodiesLock = PTHREAD_MUTEX_INITIALIZER;

/* Records like the service's ledger entries, as many as fit in `limit` bytes. */
static struct Body Records(size_t limit) {
  struct Body body = {limit, malloc(limit + 1024), 0};
  char record[1024];
  char note[512];
  body.text[body.length++] = '[';
  for (unsigned i = 0;; ++i) {
    size_t filler = 150 + i % 100;
    memset(note, 'x', filler);
    note[filler] = '\0';
    int n = snprintf(record, sizeof record,
                     "%s{\"amount\":%u,\"id\":\"%08x-89ab-cdef-0123-456789abcdef\","
                     "\"item_obtained\":%s,\"kind\":\"progress\",\"note\":\"\xE8\xBF\x9B\xE5\xBA\xA6 %s\","
                     "\"occurred_at\":\"2024-05-01T10:00:00Z\",\"quantity\":%u}",
                     i == 0 ? "" : ",", i * 3, i, i % 2 == 0 ? "true" : "false", note, i % 97);
    if (body.length + (size_t)n + 1 > limit) break;
    memcpy(body.text + body.length, record, (size_t)n);
    body.length += (size_t)n;
  }
  body.text[body.length++] = ']';
  return body;
}

static const struct Body* BodyOf(size_t limit) {
  pthread_mutex_lock(&bodiesLock);
  const struct Body* found = NULL;
  for (int i = 0; i < bodyCount && found == NULL; ++i) {
    if (bodies[i].limit == limit) found = &bodies[i];
  }
  if (found == NULL && bodyCount < kMaxBodies) {
    bodies[bodyCount] = Records(limit);
    found = &bodies[bodyCount++];
  }
  pthread_mutex_unlock(&bodiesLock);
  return found;
}

static int SendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
    if (sent <= 0) return -1;
    data += sent;
    length -= (size_t)sent;
  }
  return 0;
}

static void Answer(int fd, const char* body, size_t length) {
  char head[256];
  int n = snprintf(head, sizeof head,
                   "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                   "Content-Length: %zu\r\n\r\n",
                   length);
  if (SendAll(fd, head, (size_t)n) == 0) SendAll(fd, body, length);
}

static void* Serve(void* context) {
  int fd = (int)(intptr_t)context;
  char* buffer = malloc(kHeaderRoom + 1);
  char* discard = malloc(kDiscardRoom);
  size_t held = 0;
  for (;;) {
    char* end = NULL;
    while ((end = memmem(buffer, held, "\r\n\r\n", 4)) == NULL) {
      if (held == kHeaderRoom) goto done;
      ssize_t got = recv(fd, buffer + held, kHeaderRoom - held, 0);
      if (got <= 0) goto done;
      held += (size_t)got;
    }
    size_t headerLength = (size_t)(end - buffer) + 4;
    buffer[headerLength - 2] = '\0';
    size_t contentLength = 0;
    int expectContinue = 0;
    for (char* line = strstr(buffer, "\r\n"); line != NULL; line = strstr(line + 2, "\r\n")) {
      if (strncasecmp(line + 2, "Content-Length:", 15) == 0) {
        contentLength = strtoull(line + 17, NULL, 10);
      }
      if (strncasecmp(line + 2, "Expect: 100-continue", 20) == 0) expectContinue = 1;
    }
    /* curl asks before sending a large body, and waits a second for the answer. */
    static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    if (expectContinue && SendAll(fd, kContinue, sizeof kContinue - 1) != 0) goto done;
    int isGet = strncmp(buffer, "GET ", 4) == 0;
    char* path = strchr(buffer, ' ');
    size_t limit = 0;
    if (path != NULL && strncmp(path + 1, "/b/", 3) == 0) limit = strtoull(path + 4, NULL, 10);
    int health = path != NULL && strstr(path, "/health ") != NULL;
    int login = path != NULL && strstr(path, "/auth/login ") != NULL;

    /* Body bytes already read with the header, then the rest, discarded. */
    size_t extra = held - headerLength;
    size_t inBuffer = extra < contentLength ? extra : contentLength;
    size_t left = contentLength - inBuffer;
    while (left > 0) {
      ssize_t got = recv(fd, discard, left < kDiscardRoom ? left : kDiscardRoom, 0);
      if (got <= 0) goto done;
      left -= (size_t)got;
    }
    memmove(buffer, buffer + headerLength + inBuffer, held - headerLength - inBuffer);
    held -= headerLength + inBuffer;

    if (isGet && health && limit > 0) {
      const struct Body* body = BodyOf(limit);
      if (body != NULL) Answer(fd, body->text, body->length);
    } else if (login) {
      static const char kLogin[] = "{\"token\":\"bench-token\",\"user\":{\"id\":1}}";
      Answer(fd, kLogin, sizeof kLogin - 1);
    } else {
      static const char kEmpty[] = "{\"id\":\"m1\"}";
      Answer(fd, kEmpty, sizeof kEmpty - 1);
    }
  }
done:
  free(buffer);
  free(discard);
  close(fd);
  return NULL;
}

int main(void) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 64) != 0 ||
      getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
    perror("loopback_service");
    return 1;
  }
  printf("%u\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    int fd = accept(listener, NULL, NULL);
    if (fd < 0) continue;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    pthread_t thread;
    if (pthread_create(&thread, NULL, Serve, (void*)(intptr_t)fd) == 0) {
      pthread_detach(thread);
    } else {
      close(fd);
    }
  }
}
