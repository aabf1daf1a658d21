#!/usr/bin/python3
"""A real browser uses the camera: headless Chromium, in a private session with the camera portal, opens
"Quillmere" through getUserMedia while the program runs headless on the sample, and must see non-black
1280 x 720 frames.

    tests/vcam/browser_camera_test.py BIN_DIR SAMPLE

Exits 77 (skipped), with the reason, when the browser or the session's tools are missing or the browser
cannot start on this machine.
"""
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import base64

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from camera_session import CameraSession, missing_tools  # noqa: E402

SKIP = 77
PAGE = b"""<!doctype html><html><body><video id=v autoplay muted playsinline></video>
<canvas id=c width=1280 height=720></canvas><script>
async function report(o) { await fetch('/result', {method: 'POST', body: JSON.stringify(o)}); }
// The session manager grants the portal's camera connection its view of the cameras a moment after the
// browser connects; a browser asking in that moment finds no camera yet, so ask again for a while.
async function openCamera() {
  for (let attempt = 1; ; attempt++) {
    try {
      return [await navigator.mediaDevices.getUserMedia({video: {width: 1280, height: 720}}), attempt];
    } catch (e) {
      if (e.name != 'NotFoundError' || attempt >= 20) throw e;
      await new Promise(r => setTimeout(r, 500));
    }
  }
}
(async () => {
  try {
    const [stream, attempts] = await openCamera();
    const cameras = (await navigator.mediaDevices.enumerateDevices())
        .filter(d => d.kind == 'videoinput').map(d => d.label);
    const v = document.getElementById('v');
    v.srcObject = stream;
    await v.play();
    await new Promise(r => setTimeout(r, 2000));
    const c = document.getElementById('c').getContext('2d');
    c.drawImage(v, 0, 0, 1280, 720);
    const d = c.getImageData(0, 0, 1280, 720).data;
    let sum = 0;
    for (let i = 0; i < d.length; i += 4) sum += d[i] + d[i + 1] + d[i + 2];
    await report({ok: true, label: stream.getVideoTracks()[0].label, cameras, attempts,
                  width: v.videoWidth, height: v.videoHeight, mean: sum / (d.length / 4) / 3,
                  picture: c.canvas.toDataURL('image/png')});
  } catch (e) { await report({ok: false, error: String(e)}); }
})();
</script></body></html>"""


def serve(results):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(PAGE)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            self.send_response(200)
            self.end_headers()
            results.append(json.loads(body or b"{}"))

        def log_message(self, *unused):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    bin_dir, sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    browser = shutil.which("chromium")
    missing = missing_tools() + [t for t in ("Xvfb", "gdbus", "dbus-update-activation-environment") if not shutil.which(t)]
    if not browser or missing or not os.path.exists("/usr/libexec/xdg-desktop-portal"):
        print("SKIPPED: needs chromium, xdg-desktop-portal and " + (", ".join(missing) or "the session tools"))
        return SKIP
    results = []
    server = serve(results)
    with CameraSession(portal=True) as session:
        program = subprocess.Popen([os.path.join(bin_dir, "quillmere"), "--headless", "--file", sample],
                                   env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not session.wait_for_node("Quillmere"):
                print("FAIL the program's camera never appeared")
                return 1
            profile = os.path.join(session.folder, "profile")
            url = "http://127.0.0.1:%d/" % server.server_address[1]
            log = open(os.path.join(session.folder, "chromium.log"), "wb")
            chromium = subprocess.Popen(
                [browser, "--headless=new", "--no-sandbox", "--no-first-run", "--use-fake-ui-for-media-stream",
                 "--enable-features=WebRtcPipeWireCamera", "--user-data-dir=" + profile, url],
                env=session.env, stdout=log, stderr=subprocess.STDOUT)
            try:
                deadline = time.time() + 60
                while chromium.poll() is None and not results and time.time() < deadline:
                    time.sleep(0.2)
            finally:
                if chromium.poll() is None:
                    chromium.send_signal(signal.SIGTERM)
                    chromium.wait(timeout=10)
            if not results:
                with open(log.name, errors="replace") as f:
                    tail = f.read()[-1500:]
                print("SKIPPED: the browser did not start or load the page here:\n" + tail)
                return SKIP
        finally:
            program.send_signal(signal.SIGTERM)
            program.wait(timeout=20)
    result = results[0]
    picture = result.pop("picture", "")
    if picture.startswith("data:image/png;base64,"):
        path = os.path.join(os.path.dirname(bin_dir), "browser-camera-frame.png")
        with open(path, "wb") as f:
            f.write(base64.b64decode(picture.split(",", 1)[1]))
        print("the browser's frame:", path)
    print("browser:", json.dumps(result))
    good = (result.get("ok") and "Quillmere" in result.get("label", "") and result.get("width") == 1280
            and result.get("height") == 720 and result.get("mean", 0) > 20)
    print("all passed" if good else "FAIL the browser did not get Quillmere's frames")
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
