/* A V4L2 camera for tests of the camera program, put in front of the C library with LD_PRELOAD: the device file
 * named by MORVANE_FAKE_V4L2 opens as a YUYV camera (320x240 or 640x480) that delivers MORVANE_FAKE_V4L2_FRAMES
 * pictures at 30 per second, then stalls as a stuck driver does. With MORVANE_FAKE_V4L2_STALL=wait a read waits for
 * ever, or says "try again" when the file was opened non-blocking; with "hang" every read waits for ever, whatever the
 * file's mode. Once a file named as the device with ".dead" added exists, the driver is dead for good: every read waits
 * for ever, on every open. While a file named as the device with ".stalled" added exists, reads wait (or say "try
 * again") as in a stall, and go on once it is gone; while one with ".gone" added exists, the camera is unplugged:
 * it does not open, and reads and requests of an open file fail with ENODEV. Each picture is flat, its brightness
 * stepping from one to the next, so that a repeated picture shows. With MORVANE_FAKE_V4L2_CONTROL_WAIT set the camera
 * has a zoom control, and a request that changes it waits that many seconds in the driver while pictures go on
 * flowing, as a USB camera's control requests time out. Every other file goes to the C library untouched. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#define MAX_CAMERAS 8
#define MAX_BUFFERS 4

struct camera {
    int fd; /* -1: a free slot */
    int nonblocking;
    unsigned width, height;
    unsigned buffers;
    int queued[MAX_BUFFERS];
    int streaming;
    long delivered;
    double next;
    void* mapped[MAX_BUFFERS];
};

static int zoom = 100; /* the device's zoom control, on every open */

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct camera cameras[MAX_CAMERAS] = {{-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}, {-1}};

static void* next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Called with the lock held. */
static struct camera* cameraOf(int fd) {
    for (int i = 0; i < MAX_CAMERAS; ++i)
        if (fd >= 0 && cameras[i].fd == fd) return &cameras[i];
    return NULL;
}

/* Whether the file named as the device with `suffix` added exists. */
static int marked(const char* suffix) {
    char path[4096];
    snprintf(path, sizeof path, "%s%s", getenv("MORVANE_FAKE_V4L2"), suffix);
    return access(path, F_OK) == 0;
}

static int openCamera(const char* path, int flags) {
    const char* fake = getenv("MORVANE_FAKE_V4L2");
    if (!fake || !path || strcmp(path, fake) != 0) return -2;
    if (marked(".gone")) {
        errno = ENOENT;
        return -1;
    }
    int (*realOpen)(const char*, int, ...) = (int (*)(const char*, int, ...))next("open");
    const int fd = realOpen("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < MAX_CAMERAS; ++i) {
        if (cameras[i].fd != -1) continue;
        memset(&cameras[i], 0, sizeof cameras[i]);
        cameras[i].fd = fd;
        cameras[i].nonblocking = (flags & O_NONBLOCK) != 0;
        cameras[i].width = 640;
        cameras[i].height = 480;
        pthread_mutex_unlock(&lock);
        return fd;
    }
    pthread_mutex_unlock(&lock);
    close(fd);
    errno = EBUSY;
    return -1;
}

static mode_t modeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

static int openAs(const char* name, const char* path, int flags, mode_t mode) {
    const int fd = openCamera(path, flags);
    if (fd != -2) return fd;
    return ((int (*)(const char*, int, ...))next(name))(path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return openAs("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return openAs("open64", path, flags, mode);
}

int close(int fd) {
    pthread_mutex_lock(&lock);
    struct camera* camera = cameraOf(fd);
    if (camera) camera->fd = -1;
    pthread_mutex_unlock(&lock);
    return ((int (*)(int))next("close"))(fd);
}

static void* mapFor(void* address, size_t length, int protection, int flags, int fd, off_t offset, const char* name) {
    pthread_mutex_lock(&lock);
    const int ours = cameraOf(fd) != NULL;
    pthread_mutex_unlock(&lock);
    void* (*realMap)(void*, size_t, int, int, int, off_t) = (void* (*)(void*, size_t, int, int, int, off_t))next(name);
    if (!ours) return realMap(address, length, protection, flags, fd, offset);
    void* mapped = realMap(NULL, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    pthread_mutex_lock(&lock);
    struct camera* c = cameraOf(fd);
    const unsigned index = c ? (unsigned)(offset / ((c->width * c->height * 2 + 4095u) & ~4095u)) : MAX_BUFFERS;
    if (mapped != MAP_FAILED && index < MAX_BUFFERS) c->mapped[index] = mapped;
    pthread_mutex_unlock(&lock);
    return mapped;
}

int munmap(void* address, size_t length) {
    pthread_mutex_lock(&lock);
    for (int i = 0; i < MAX_CAMERAS; ++i)
        for (int b = 0; b < MAX_BUFFERS; ++b)
            if (cameras[i].mapped[b] == address) cameras[i].mapped[b] = NULL;
    pthread_mutex_unlock(&lock);
    return ((int (*)(void*, size_t))next("munmap"))(address, length);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    return mapFor(address, length, protection, flags, fd, offset, "mmap");
}

void* mmap64(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
    return mapFor(address, length, protection, flags, fd, offset, "mmap64");
}

static unsigned frameBytes(const struct camera* c) {
    return c->width * c->height * 2;
}

/* Waits for ever: a driver that never hands back a buffer. */
static void stuck(void) {
    for (;;) sleep(60);
}

static int dequeue(int fd, struct v4l2_buffer* buffer) {
    const long frames = getenv("MORVANE_FAKE_V4L2_FRAMES") ? atol(getenv("MORVANE_FAKE_V4L2_FRAMES")) : 60;
    const char* stall = getenv("MORVANE_FAKE_V4L2_STALL");
    if (marked(".dead")) stuck();
    for (;;) {
        pthread_mutex_lock(&lock);
        struct camera* c = cameraOf(fd);
        if (!c || !c->streaming) {
            pthread_mutex_unlock(&lock);
            errno = EINVAL;
            return -1;
        }
        const int nonblocking = c->nonblocking;
        if (marked(".gone")) {
            pthread_mutex_unlock(&lock);
            errno = ENODEV;
            return -1;
        }
        if (marked(".stalled")) {
            c->next = 0; /* pictures go on from when the stall ends */
            pthread_mutex_unlock(&lock);
            if (nonblocking) {
                errno = EAGAIN;
                return -1;
            }
            usleep(10000);
            continue;
        }
        if (c->delivered >= frames) {
            pthread_mutex_unlock(&lock);
            if (stall && strcmp(stall, "hang") == 0) stuck();
            if (nonblocking) {
                errno = EAGAIN;
                return -1;
            }
            stuck();
        }
        int index = -1;
        for (unsigned i = 0; i < c->buffers; ++i)
            if (c->queued[i]) index = (int)i;
        const double wait = c->next - now();
        if (index >= 0 && wait <= 0) {
            c->queued[index] = 0;
            c->delivered++;
            if (c->mapped[index]) {
                /* Flat grey, brighter by 3 from one picture to the next. */
                unsigned char* p = c->mapped[index];
                const unsigned char y = (unsigned char)(16 + (c->delivered * 3) % 219);
                for (unsigned i = 0; i + 1 < frameBytes(c); i += 2) {
                    p[i] = y;
                    p[i + 1] = 128;
                }
            }
            c->next = (c->next > 0 ? c->next : now()) + 1.0 / 30;
            memset(buffer, 0, sizeof *buffer);
            buffer->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer->memory = V4L2_MEMORY_MMAP;
            buffer->index = (unsigned)index;
            buffer->bytesused = frameBytes(c);
            buffer->length = frameBytes(c);
            buffer->field = V4L2_FIELD_NONE;
            buffer->sequence = (unsigned)c->delivered;
            buffer->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE;
            gettimeofday(&buffer->timestamp, NULL);
            pthread_mutex_unlock(&lock);
            return 0;
        }
        pthread_mutex_unlock(&lock);
        if (nonblocking) {
            errno = EAGAIN;
            return -1;
        }
        usleep(wait > 0 ? (useconds_t)(wait * 1e6) : 1000);
    }
}

static int control(int fd, unsigned long request, void* argument) {
    if (request != VIDIOC_DQBUF && marked(".gone")) {
        errno = ENODEV;
        return -1;
    }
    pthread_mutex_lock(&lock);
    struct camera* c = cameraOf(fd);
    int rc = 0;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            struct v4l2_capability* cap = argument;
            memset(cap, 0, sizeof *cap);
            strcpy((char*)cap->driver, "fake");
            strcpy((char*)cap->card, "Fake camera");
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            break;
        }
        case VIDIOC_G_INPUT:
            *(int*)argument = 0;
            break;
        case VIDIOC_ENUMINPUT: {
            struct v4l2_input* input = argument;
            if (input->index != 0) {
                rc = EINVAL;
                break;
            }
            strcpy((char*)input->name, "Camera");
            input->type = V4L2_INPUT_TYPE_CAMERA;
            input->std = 0;
            break;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT: {
            struct v4l2_format* format = argument;
            if (request == VIDIOC_S_FMT && format->fmt.pix.width && format->fmt.pix.height) {
                c->width = format->fmt.pix.width & ~1u;
                c->height = format->fmt.pix.height & ~1u;
            }
            format->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            format->fmt.pix.width = c->width;
            format->fmt.pix.height = c->height;
            format->fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
            format->fmt.pix.field = V4L2_FIELD_NONE;
            format->fmt.pix.bytesperline = c->width * 2;
            format->fmt.pix.sizeimage = frameBytes(c);
            format->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
            break;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            struct v4l2_streamparm* parm = argument;
            parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parm->parm.capture.timeperframe.numerator = 1;
            parm->parm.capture.timeperframe.denominator = 30;
            break;
        }
        case VIDIOC_REQBUFS: {
            struct v4l2_requestbuffers* request = argument;
            c->buffers = request->count < MAX_BUFFERS ? request->count : MAX_BUFFERS;
            request->count = c->buffers;
            memset(c->queued, 0, sizeof c->queued);
            break;
        }
        case VIDIOC_QUERYBUF: {
            struct v4l2_buffer* buffer = argument;
            if (buffer->index >= c->buffers) {
                rc = EINVAL;
                break;
            }
            buffer->length = frameBytes(c);
            buffer->m.offset = buffer->index * ((frameBytes(c) + 4095u) & ~4095u);
            buffer->flags = V4L2_BUF_FLAG_MAPPED;
            break;
        }
        case VIDIOC_QBUF: {
            const struct v4l2_buffer* buffer = argument;
            if (buffer->index >= c->buffers) {
                rc = EINVAL;
                break;
            }
            c->queued[buffer->index] = 1;
            break;
        }
        case VIDIOC_STREAMON:
            c->streaming = 1;
            break;
        case VIDIOC_STREAMOFF:
            c->streaming = 0;
            memset(c->queued, 0, sizeof c->queued);
            break;
        case VIDIOC_ENUM_FMT: {
            struct v4l2_fmtdesc* format = argument;
            if (format->index != 0) {
                rc = EINVAL;
                break;
            }
            format->pixelformat = V4L2_PIX_FMT_YUYV;
            strcpy((char*)format->description, "YUYV 4:2:2");
            break;
        }
        case VIDIOC_ENUM_FRAMESIZES: { /* two sizes, each at 30 per second */
            struct v4l2_frmsizeenum* size = argument;
            if (size->index > 1) {
                rc = EINVAL;
                break;
            }
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete.width = size->index ? 640 : 320;
            size->discrete.height = size->index ? 480 : 240;
            break;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            struct v4l2_frmivalenum* interval = argument;
            if (interval->index != 0) {
                rc = EINVAL;
                break;
            }
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete.numerator = 1;
            interval->discrete.denominator = 30;
            break;
        }
        case VIDIOC_DQBUF:
            pthread_mutex_unlock(&lock);
            return dequeue(fd, argument);
        case VIDIOC_QUERYCTRL: {
            struct v4l2_queryctrl* query = argument;
            if (!getenv("MORVANE_FAKE_V4L2_CONTROL_WAIT") || query->id != V4L2_CID_ZOOM_ABSOLUTE) {
                rc = EINVAL;
                break;
            }
            memset(query, 0, sizeof *query);
            query->id = V4L2_CID_ZOOM_ABSOLUTE;
            query->type = V4L2_CTRL_TYPE_INTEGER;
            strcpy((char*)query->name, "Zoom, Absolute");
            query->minimum = 100;
            query->maximum = 400;
            query->step = 1;
            query->default_value = 100;
            break;
        }
        case VIDIOC_G_CTRL: {
            struct v4l2_control* control = argument;
            if (!getenv("MORVANE_FAKE_V4L2_CONTROL_WAIT") || control->id != V4L2_CID_ZOOM_ABSOLUTE) {
                rc = EINVAL;
                break;
            }
            control->value = zoom;
            break;
        }
        case VIDIOC_S_CTRL: {
            struct v4l2_control* control = argument;
            if (!getenv("MORVANE_FAKE_V4L2_CONTROL_WAIT") || control->id != V4L2_CID_ZOOM_ABSOLUTE) {
                rc = EINVAL;
                break;
            }
            if (control->value != zoom) {
                /* Waits in the driver without holding up the pictures. */
                pthread_mutex_unlock(&lock);
                usleep((useconds_t)(atof(getenv("MORVANE_FAKE_V4L2_CONTROL_WAIT")) * 1e6));
                pthread_mutex_lock(&lock);
                zoom = control->value;
            }
            break;
        }
        default: /* no standards or other controls */
            rc = EINVAL;
    }
    pthread_mutex_unlock(&lock);
    if (rc) {
        errno = rc;
        return -1;
    }
    return 0;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    pthread_mutex_lock(&lock);
    const int ours = cameraOf(fd) != NULL;
    pthread_mutex_unlock(&lock);
    if (ours) return control(fd, request, argument);
    return ((int (*)(int, unsigned long, ...))next("ioctl"))(fd, request, argument);
}
