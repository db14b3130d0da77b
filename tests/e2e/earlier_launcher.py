"""The signed launcher as it was built before delta patches: the commit's tree is exported with git,
configured with this build's ports and test key, and only its signed launcher is built (cached beside
this build). Deployed launchers of that age must keep patching from a served folder that carries deltas."""
import os
import shutil
import subprocess

# The last commit whose launcher knew nothing of delta lists.
BEFORE_DELTAS = "75350d8"


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise AssertionError("%s is not in the build's cache" % name)


def build_signed_launcher(source_dir, build_dir, commit=BEFORE_DELTAS):
    """Path of VYRLauncher_signed.exe built from `commit`; raises when git or the build fails (a test
    that needs it must not pass without it)."""
    root = os.path.join(build_dir, "earlier-launcher-" + commit)
    exe = os.path.join(root, "build", "VYRLauncher_signed.exe")
    if os.path.exists(exe):
        return exe
    tree = os.path.join(root, "src")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(tree)
    archive = subprocess.run(["git", "-C", source_dir, "archive", "--format=tar", commit], capture_output=True, check=True)
    subprocess.run(["tar", "-x", "-C", tree], input=archive.stdout, check=True)
    os.symlink(os.path.join(source_dir, ".deps"), os.path.join(tree, ".deps"))
    out = os.path.join(root, "build")
    os.makedirs(out)
    # The same key as this build's signed launcher, so one release serves both.
    shutil.copy(os.path.join(build_dir, "test-patch-key.pem"), os.path.join(out, "test-patch-key.pem"))
    port = cache_value(build_dir, "VYR_TEST_PORT")
    subprocess.run(["cmake", "-S", tree, "-B", out, "-G", "Ninja",
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(tree, "cmake", "mingw-x64.cmake"),
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DVYR_TEST_PORT=" + port,
                    "-DVYR_NGINX_PORT=" + cache_value(build_dir, "VYR_NGINX_PORT"),
                    "-DVYR_PATCH_BASE_URL=" + cache_value(build_dir, "VYR_PATCH_BASE_URL")],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "--target", "VYRLauncher_signed", "-j", str(os.cpu_count() or 2)],
                   check=True, stdout=subprocess.DEVNULL)
    return exe
