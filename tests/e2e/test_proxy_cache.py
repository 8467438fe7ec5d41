"""Behind a caching proxy the user still sees what was published: a real squid
(Debian's, on a free loopback port with a private configuration) in front of
the content server caches everything for an hour, as CDNs do; a newly
published catalogue and file must still reach the program, while verified
component files may come from it."""
import os
import shutil
import socket
import subprocess
import tempfile
import time

import test_install_faults as f
import test_signed as signed
import zelto_e2e as z

SQUID = "/usr/sbin/squid"
CONFIG = """http_port 127.0.0.1:{port}
pid_filename {folder}/squid.pid
access_log {folder}/access.log
cache_log {folder}/cache.log
cache_store_log none
cache_mem 32 MB
maximum_object_size_in_memory 8 MB
cache_effective_user proxy
coredump_dir {folder}
http_access allow all
cache_peer 127.0.0.1 parent {parent} 0 no-query default no-digest
never_direct allow all
refresh_pattern . 60 100% 60 override-expire override-lastmod ignore-no-store
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ProxyCache(f.FaultScenario):
    def setUp(self):
        super().setUp()
        self.folder = tempfile.mkdtemp(prefix="zelto-squid-")
        os.chmod(self.folder, 0o777)
        self.port = free_port()
        with open(os.path.join(z.CONTENT, "port")) as p:
            parent = int(p.read().strip())
        with open(os.path.join(self.folder, "squid.conf"), "w") as conf:
            conf.write(CONFIG.format(port=self.port, folder=self.folder, parent=parent))
        self.squid = subprocess.Popen([SQUID, "-f", os.path.join(self.folder, "squid.conf"), "-N"],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        z.wait_for(listening, 20, "squid to listen on port %d" % self.port)

    def tearDown(self):
        self.squid.terminate()
        try:
            self.squid.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.squid.kill()
        shutil.rmtree(self.folder, ignore_errors=True)

    def run_through_squid(self, mode):
        return z.run_driver(["-x", f.doc(mode)], presses=[1], timeout=90,
                            env={"ZELTO_PROXY": "http://127.0.0.1:%d" % self.port})

    def test_a_new_version_is_seen_through_the_cache(self):
        control = "ZeltoTestCtl.dll"
        f.publish("cached", [("Cached", [f.file_xml(control, f.COMPONENTS + "v1004/" + control,
                                                    "<VERSION>1,0,0,4</VERSION>")])])
        first = self.run_through_squid("cached")
        self.assertEqual(100, first.last_status(), first.lines)
        self.assertTrue(f.installed(control))

        # 1.0.0.5 is published while the proxy holds the old catalogue.
        f.publish("cached", [("Cached", [f.file_xml(control, f.COMPONENTS + "v1005/" + control,
                                                    "<VERSION>1,0,0,5</VERSION>")])])
        second = self.run_through_squid("cached")
        self.assertEqual(100, second.last_status(), second.lines)
        with open(os.path.join(z.OMBRIX_DIR, control), "rb") as placed, \
                open(os.path.join(z.BIN, "tests", "components", "v1005", control), "rb") as published:
            self.assertTrue(placed.read() == published.read(), "the newly published version is installed")
        with open(os.path.join(self.folder, "access.log")) as log:
            self.assertIn("Repository/cached/cached.xml", log.read(), "the requests went through squid")

    def test_verified_components_come_from_the_cache_the_catalogue_never(self):
        # Two desktops behind one company proxy install the same signed
        # components: the second one's component requests end at the proxy.
        signed.serve()
        z.reg("delete", signed.ADDREG_KEY, "/f")
        proxy = {"ZELTO_PROXY": "http://127.0.0.1:%d" % self.port}
        try:
            first = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90, exe=signed.SIGNED_EXE, env=proxy)
            self.assertEqual(100, first.last_status(), first.lines)
            components = [u for u in z.requested_urls("GET") if "/components/" in u]
            self.assertEqual(2, len(components), components)

            z.reset_installation()
            z.clear_requests()
            second = z.run_driver(["-x", z.SAMPLE_DOC], presses=[1], timeout=90, exe=signed.SIGNED_EXE, env=proxy)
            self.assertEqual(100, second.last_status(), second.lines)
            self.assertTrue(f.installed("ZeltoTestCtl.dll") and f.installed("ZeltoTestCtl2.dll"))
            origin = z.requested_urls()
            self.assertEqual([], [u for u in origin if "/components/" in u], "the proxy answered the components")
            catalogue = "http://down.zelto.com/zelto/zeltosetup/Repository/zeltosetup/zeltosetup.xml"
            self.assertIn(catalogue, origin, "the catalogue still came from the content server")
            self.assertIn(catalogue + ".sig", origin)
        finally:
            signed.Signed.tearDown(self)
            z.reg("delete", signed.ADDREG_KEY, "/f")
            z.reg("delete", r"HKLM\Software\QRV Corporation\ZeltoSetup\CatalogueSerials", "/f")


if __name__ == "__main__":
    z.main()
