#!/usr/bin/env python3
"""Signs an executable in place with osslsigncode (Authenticode, SHA-256).

The signing time is SOURCE_DATE_EPOCH when that is set, so that the same
unsigned file and key give the same signed bytes; without it, and whenever a
time-stamping server is used, every signature differs. When signing fails the
unsigned file is deleted, so that the next build links and signs again
instead of taking the unsigned file for finished."""
import argparse
import os
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("exe")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("--pkcs12")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp-url")
    parser.add_argument("--description")
    args = parser.parse_args()

    command = [args.osslsigncode, "sign", "-h", "sha256"]
    if args.pkcs12:
        command += ["-pkcs12", args.pkcs12]
    else:
        command += ["-certs", args.cert, "-key", args.key]
    if args.password_file:
        command += ["-readpass", args.password_file]
    if args.description:
        command += ["-n", args.description]
    if args.timestamp_url:
        command += ["-ts", args.timestamp_url]
    elif "SOURCE_DATE_EPOCH" in os.environ:
        command += ["-time", os.environ["SOURCE_DATE_EPOCH"]]
    signed = args.exe + ".signed"
    if os.path.exists(signed):
        os.remove(signed)
    result = subprocess.run(command + ["-in", args.exe, "-out", signed], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        os.remove(args.exe)
        if os.path.exists(signed):
            os.remove(signed)
        sys.exit(f"sign_exe: signing {args.exe} failed; the unsigned file was removed\n{result.stdout}")
    os.replace(signed, args.exe)


if __name__ == "__main__":
    main()
