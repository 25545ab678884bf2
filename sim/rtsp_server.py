#!/usr/bin/python3
"""A real RTSP server for the tests and benchmarks: GStreamer's gst-rtsp-server serving a moving
test picture on loopback, as H.264 (with or without B-frames), H.265 or Motion JPEG over RTP,
with basic authentication. It prints "rtsp port N" once it listens and runs until stopped."""

import argparse
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

ENCODERS = {
    # SPS/PPS only in the session description, as many cameras send them.
    "h264": "x264enc tune=zerolatency speed-preset=ultrafast bitrate={kbit} key-int-max={gop} "
            "! video/x-h264,profile=baseline ! rtph264pay name=pay0 pt=96",
    "h264-bframes": "x264enc speed-preset=superfast bframes=2 b-adapt=false rc-lookahead=0 bitrate={kbit} "
                    "key-int-max={gop} ! video/x-h264,profile=main ! rtph264pay name=pay0 pt=96",
    "h265": "x265enc speed-preset=ultrafast tune=zerolatency bitrate={kbit} key-int-max={gop} "
            "! rtph265pay name=pay0 pt=96",
    "mjpeg": "video/x-raw,format=I420 ! jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--path", default="/stream1")
    parser.add_argument("--pattern", default="smpte", help="videotestsrc's: smpte (sweeping), ball, ...")
    parser.add_argument("--codec", choices=sorted(ENCODERS), default="h264")
    parser.add_argument("--size", default="640x360")
    parser.add_argument("--fps", type=int, default=30)
    parser.add_argument("--gop-seconds", type=float, default=2.0)
    parser.add_argument("--kbit", type=int, default=1000)
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    args = parser.parse_args()

    Gst.init(None)
    width, height = (int(v) for v in args.size.split("x"))
    gop = max(1, round(args.fps * args.gop_seconds))
    encoder = ENCODERS[args.codec].format(kbit=args.kbit, gop=gop)
    motion = " horizontal-speed=6" if args.pattern == "smpte" else ""
    launch = (f"( videotestsrc is-live=true pattern={args.pattern}{motion} "
              f"! video/x-raw,width={width},height={height},framerate={args.fps}/1 "
              f"! videoconvert ! {encoder} )")

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(launch)
    factory.set_shared(True)
    if args.user:
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", "viewer")
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        server.set_auth(auth)
        factory.add_role_from_structure(Gst.Structure.from_string(
            "viewer, media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0])
    server.get_mount_points().add_factory(args.path, factory)
    if server.attach(None) == 0:
        print("rtsp server could not listen", flush=True)
        return 1
    print(f"rtsp port {server.get_bound_port()} path {args.path} codec {args.codec}", flush=True)

    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
