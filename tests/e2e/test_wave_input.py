"""Wave input through the real binary: the file report, loader messages and statuses."""

import os
import struct

from e2e import Checks, Folder, arguments, run, wave_bytes

CLOSING = "High emphasis filtering...OK\n\nThe end of program\n"


def file_report(channels, rate, bits):
    return ("\nNumber of channels: %d\nSampling rate: %d\nBits per sample: %d\nReading .wav to buffer...\n"
            % (channels, rate, bits))


def with_format(data, tag=None, bits=None, channels=None):
    """Rewrites fields of a canonical header, keeping byte rate and block align consistent."""
    data = bytearray(data)
    if tag is not None:
        struct.pack_into("<H", data, 20, tag)
    ch = channels if channels is not None else struct.unpack_from("<H", data, 22)[0]
    b = bits if bits is not None else struct.unpack_from("<H", data, 34)[0]
    rate = struct.unpack_from("<I", data, 24)[0]
    struct.pack_into("<HIIHH", data, 22, ch, rate, (ch * rate * b) >> 3, ch * b // 8, b)
    return bytes(data)


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    checks = Checks()
    speech = [((i * 53) % 3001) - 1500 for i in range(3000)]
    canonical = wave_bytes(speech)

    def run_on(data, *options):
        with Folder() as f:
            f.file("in.wav", data)
            r = run(binary, ["-Q0", "in", "out"] + list(options), f.path)
            features = f.read("out.txt") if os.path.exists(os.path.join(f.path, "out.txt")) else None
            return r, features

    r, reference = run_on(canonical)
    checks.equal("canonical 16-bit", (r.status, r.out, r.err), (0, file_report(1, 16000, 16) + CLOSING, ""))

    # Chunks people's tools write: LIST before the data, a trailing chunk, a longer format chunk.
    listed = wave_bytes(speech, extra_chunks_before=b"LIST\x05\x00\x00\x00INFOx\x00", tail=b"id3 \x04\x00\x00\x00abcd")
    r, features = run_on(listed)
    checks.equal("LIST before data and a trailing chunk read as the plain file", (r.status, features), (0, reference))

    r, features = run_on(wave_bytes([x & 0xFF for x in range(4000)], bits=8))
    checks.equal("8-bit report", (r.status, r.out), (0, file_report(1, 16000, 8) + CLOSING))

    stereo = wave_bytes([v for s in speech for v in (s, s)], channels=2)
    r, features = run_on(stereo)
    checks.equal("stereo of two equal channels gives the mono features",
                 (r.status, r.out, features), (0, file_report(2, 16000, 16) + CLOSING, reference))

    r, features = run_on(with_format(canonical, bits=24))
    checks.equal("24-bit refused after the report",
                 (r.status, r.out, r.err, features),
                 (1, file_report(1, 16000, 24), "Reading wave file data failed: RFX_INVALID_CALL\n", None))

    r, features = run_on(with_format(canonical, tag=3, bits=32))
    checks.equal("float samples refused after the report",
                 (r.status, r.err), (1, "Reading wave file data failed: RFX_INVALID_CALL\n"))

    r, features = run_on(canonical[:40])
    checks.equal("cut header", (r.status, r.out, r.err, features),
                 (1, "", "Reading wave table size failed: RFX_FILE_ERROR\n", None))

    r, features = run_on(canonical[:8] + b"wave" + canonical[12:])
    checks.equal("lower-case form type", (r.status, r.err), (1, "Reading wave table size failed: RFX_FILE_ERROR\n"))

    with Folder() as f:
        r = run(binary, ["-Q0", "absent", "out"], f.path)
        checks.equal("missing input", (r.status, r.err, f.names()),
                     (1, "Reading wave table size failed: RFX_FILE_ERROR\n", []))

    r, features = run_on(wave_bytes([]))
    checks.equal("no samples: empty output", (r.status, features), (0, b""))
    checks.finish()


if __name__ == "__main__":
    main()
