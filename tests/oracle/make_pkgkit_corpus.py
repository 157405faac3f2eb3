#!/usr/bin/python3
"""Writes pkgkit_corpus.jsonl, the cases of the oracle comparison.

Edit the tables here and run this script; commit both files. An entry with "differs" is a
deliberate difference from the packaging library: "expect" is this program's answer there.
"""
import itertools
import json
import pathlib

out = []
def add(kind, inp, **kw):
    d = {"kind": kind, "input": inp}; d.update(kw); out.append(d)
def order(a, b, **kw):
    d = {"kind": "order", "a": a, "b": b}; d.update(kw); out.append(d)

# ---- versions
valid = ["1", "1.0", "1.0.0", "01.02.03", "1.0.0.0.0.0.0.0", "v1.0", "V1.0", " 1.0 ", "\t1.0\n",
 "1!1.0", "0!1.0", "01!1.0", "v1!2.0", "1.0a1", "1.0A1", "1.0alpha1", "1.0ALPHA", "1.0.a1", "1.0-a1",
 "1.0_a1", "1.0a", "1.0a.1", "1.0a-1", "1.0a_1", "1.0b2", "1.0beta2", "1.0Beta", "1.0c3", "1.0rc3",
 "1.0pre3", "1.0preview3", "1.0RC", "1.0-1", "1.0-0", "1.0post", "1.0.post1", "1.0-post1",
 "1.0_post_1", "1.0rev1", "1.0r1", "1.0.r", "1.0POST1", "1.0dev", "1.0.dev1", "1.0-dev1",
 "1.0_dev_1", "1.0DEV", "1.0a1.dev1", "1.0a1.post1.dev1", "1.0.post1.dev1", "1.0-1.dev2",
 "1.0+local", "1.0+LOCAL.1", "1.0+abc-def_ghi", "1.0+01", "1.0+1.02.abc", "1.0+ubuntu-1",
 "1.0a1+local", "1!1.0a1.post1.dev1+local", "1.0a.", "1.0a-", "1.0.post.", "1.0.dev.", "1.0a..dev",
 "1.0a.-1", "999999999999999999999999999999", "1.99999999999999999999999999", "1.0rc00001",
 "00000", "0", "0.0", "1.0.post0", "1.0-r", "1.0c", "1.0.c.1", "1.0rc1-1", "1.0.0-alpha",
 "2020.01.01", "1.0-b", "1.0-dev-", "\u00a01.0\u3000", "1.0\u2028", "\x1c1.0", "1.0pre", "1.0preview",
 "1.0.PREVIEW.2", "1.0rEv", "00001!0001.0001a0001.post0001.dev0001+0001", "1.0+a.b.c.d.e.f.1.2.3",
 "1.0+0", "1.0+00", "1.0a0", "1.0-1-dev", "1.0.post1-dev", "1.0.0.0rc0", "10!0", "1.2.3.4.5.6.7.8.9.10",
 "18446744073709551616.1", "1.0.0-rc.1", "v0", "1.0+x1y2", "1.0.Dev1", "1.0_RC_1"]
invalid = ["", " ", "latest", "1.0.", ".1", "1..0", "1.0-", "1.0+", "1.0+abc.", "1.0+.abc", "1.0+a+b",
 "1.0 a1", "1.0a1a2", "1!", "!1", "1!!1", "v", "vv1", "1.0.dev1.post1", "1.0.post1a1", "1.0+local+",
 "1.0_", "a1.0", "1.0.x", "1.*", "1,0", "\u0661.\u0660", "1.0\x00", "1.0+lo cal", "1.0+\u00fc",
 "1.0-1-1", "1.0-1.post1", "1.0pre1pre2", "1.0.0-SNAPSHOT", "1.0a1b1", "1.0--1", "\u200b1.0",
 "1.0-+local", "1.0.dev1.dev2", "1.0rc1rc2", "1.0 .post1", "- 1.0", "1.0/1", "1.0alpha_beta",
 "1.0.post-", "1.0a1.", "1.0.", "1.0devv", "ve1.0", "1.0+_a", "1.0+a_", "1.0e10", "0x10", "+1.0",
 "1.0\n1.0", "None", "1.0.*", "==1.0", "1!1!1.0", "1.0-r-1"]
for v in valid: add("version", v)
for v in invalid: add("version", v)
add("version", "1.0.po\u017ft1", differs="only ASCII letters spell a version's words", expect="invalid")
add("version", "1.0+\u212a", differs="only ASCII letters spell a version's local part", expect="invalid")

# ---- orderings: every pair from a strictly ascending table
ascending = ["1.0.dev456", "1.0a1", "1.0a2.dev456", "1.0a12.dev456", "1.0a12", "1.0b1.dev456",
 "1.0b2", "1.0b2.post345.dev456", "1.0b2.post345", "1.0rc1.dev456", "1.0rc1", "1.0", "1.0+abc.5",
 "1.0+abc.7", "1.0+5", "1.0.post456.dev34", "1.0.post456", "1.0.15", "1.1.dev1",
 "1.9999999999999999999999", "1.10000000000000000000000", "2.0", "1!0.1"]
for a, b in itertools.combinations(ascending, 2):
    order(a, b)
for a, b in [("1.0+a", "1.0+a.1"), ("1.0+a.1", "1.0+b"), ("1.0+b", "1.0+0"), ("1.0+0", "1.0+1"),
             ("1.0+1.a", "1.0+1.0"), ("1.0+abc", "1.0+abd"), ("1.0+ab", "1.0+abc"),
             ("1.0+9", "1.0+10"), ("1.0a1", "1.0a1+local"), ("1.0.dev0", "1.0a0.dev0"),
             ("1.0a0.dev0", "1.0a0"), ("1.0rc1.post1", "1.0"), ("1.0", "1.0.post0.dev0"),
             ("1.0.post0.dev0", "1.0.post0"), ("0.9", "1.0.dev0"), ("2.0rc1", "2.0"),
             ("1.9", "1.10"), ("1.0.0.1", "1.0.1"), ("0!9.9", "1!0.0"),
             ("99999999999999999999!1", "100000000000000000000!0"), ("1.0-1", "1.0.post2"),
             ("1.0.post1", "1.0.post1+local"), ("1.0.dev1", "1.0.dev2"), ("1.0c1", "1.0rc2")]:
    order(a, b); order(b, a)
for a, b in [("1.0", "1.0.0"), ("1.0", "v1.0"), ("1.0a1", "1.0alpha1"), ("1.0c1", "1.0rc1"),
             ("1.0pre1", "1.0preview1"), ("1.0-1", "1.0.post1"), ("1.0r", "1.0rev0"), ("1.0+ABC", "1.0+abc"),
             ("1.0+1", "1.0+01"), ("0!1.0", "1.0"), ("1.0.dev", "1.0.dev0"), ("1.0a", "1.0a0"),
             ("0", "0.0.0"), ("1.0+a-b", "1.0+a.b"), ("1.0+a_b", "1.0+a-b"), (" 1.0\n", "1.0"),
             ("1.0b", "1.0BETA0"), ("00001.0", "1.0"), ("1.0.0.0.0", "1")]:
    order(a, b)
for a, b in [("latest", "1.0"), ("1.0", ""), ("", ""), ("1.0", "1.0-"), ("x", "y"), ("1.0", "v"),
             ("2.0", "1.0+"), ("1..0", "1.0")]:
    order(a, b)

# ---- wheel file names
for w in ["pkg-1.0-py3-none-any.whl", "Pkg_Name-1.0-py3-none-any.whl", "pkg.name-1.0-py2.py3-none-any.whl",
          "pkg-1.0-1-py3-none-any.whl", "pkg-1.0-1abc-py3-none-any.whl", "pkg-1.0-007-py3-none-any.whl",
          "pkg-1.0-cp311-cp311-manylinux_2_17_x86_64.manylinux2014_x86_64.whl",
          "PKG-1.0RC1-PY3-NONE-ANY.whl", "pkg-v1.0-py3-none-any.whl", "pkg-1!2.0-py3-none-any.whl",
          "pkg-1.0+local-py3-none-any.whl", "pkg-1.0_post1-py3-none-any.whl",
          "tessel_enterprise-2.1.0-py3-none-any.whl", "a-1-x-y-z.whl", "a.b.c-1-x-y-z.whl", "a-1---.whl",
          "bundle_alder-1.2.3-py3-none-any.whl", "A_B.C-1.0-cp39.cp310-abi3.none-win_amd64.macosx_11_0_arm64.whl",
          "pkg-1.0-1_build-py3-none-any.whl", "pkg-1.0-99999999999999999999x-py3-none-any.whl",
          "pkg.-1.0-py3-none-any.whl", "_pkg-1.0-py3-none-any.whl", "pkg-1.0a-py3-none-any.whl",
          "9-9-9-9-9.whl", "pkg-1.0-py3-none-any.py2.whl", "pkg-1.0-py3..-none-any.whl",
          "broken.whl", "pkg-1.0.whl", "pkg-1.0-py3.whl", "pkg-1.0-py3-none.whl",
          "pkg-1.0-1-2-py3-none-any.whl", "pkg-1.0-abc-py3-none-any.whl", "pkg__name-1.0-py3-none-any.whl",
          "pkg name-1.0-py3-none-any.whl", "pkg+x-1.0-py3-none-any.whl", "pkg-latest-py3-none-any.whl",
          "pkg-1.0-py3-none-any.WHL", "pkg-1.0-py3-none-any.whl.txt", ".whl", "pkg-1.0--py3-none-any.whl",
          "pkg-1.0.-py3-none-any.whl", "pkg-1.0-py3-none-any", "pkg-1.0-_1-py3-none-any.whl",
          "pk/g-1.0-py3-none-any.whl", "pkg-1.0-py3-none-any-.whl", "p:kg-1.0-py3-none-any.whl",
          "whl", "pkg--py3-none-any.whl", "pkg-1.0- 1-py3-none-any.whl", "pkg- 1.0-py3-none-any.whl"]:
    add("wheel", w)
add("wheel", "-1.0-py3-none-any.whl", differs="a wheel whose distribution name is empty names no package",
    expect="invalid")
add("wheel", "pkg\u00e9-1.0-py3-none-any.whl",
    differs="distribution names in wheel file names are ASCII letters, digits, '_' and '.'", expect="invalid")
add("wheel", "abc\n-1.0-py3-none-any.whl", differs="a line break is not part of a distribution name",
    expect="invalid")
add("wheel", "pkg-1.0-\u0661-py3-none-any.whl", differs="a build tag begins with an ASCII digit",
    expect="invalid")

# ---- sdist file names
for s in ["pkg-1.0.tar.gz", "Pkg_Name-1.0.tar.gz", "tessel-enterprise-2.1.0.tar.gz", "a-b-c-1.0rc1.tar.gz",
          "pkg-v1.0.tar.gz", "pkg-1.0-1.tar.gz", "pkg-1.0.post1.tar.gz", "pkg name-1.0.tar.gz",
          "UPPER-1.0.tar.gz", "Tessel_Enterprise-2.1.0.tar.gz", "pkg..name-1!1.0+abc.tar.gz",
          "pkg.tar.gz", "pkg-latest.tar.gz", "pkg-1.0.tgz", "pkg-1.0.tar.gz.bak", "pkg-.tar.gz",
          "pkg-1.0-.tar.gz", "pkg-1.0.TAR.GZ", ".tar.gz", "pkg_1.0.tar.gz", "pkg-1.0a1.dev1.tar.gz",
          "x-0.tar.gz", "pkg-1.0 .tar.gz", "pkg- 1.0.tar.gz"]:
    add("sdist", s)
add("sdist", "pkg-1.0.zip", differs="only .tar.gz archives are source distributions here", expect="invalid")
add("sdist", "-1.0.tar.gz", differs="an archive whose distribution name is empty names no package",
    expect="invalid")

# ---- canonical names
for c in ["Foo", "foo_bar", "foo.bar", "foo--bar", "Foo__Bar..Baz", "-foo-", "a-_.b", "TESSEL_Enterprise",
          "", "\u00dcNI", "bundle-alder", "Bundle.Alder", "x___y", "...", "A1-B2_C3.D4"]:
    add("canon", c)

# ---- requirements
for r in ["bundle-alder>=1.2", "Bundle_Alder[extra]==1.0", "name", "name[]", "name[a,b]", "name [ a , b ]",
          "name>=1.0,<2", "name (>=1.0, <2)", "name(>=1.0)", "name==1.*", "name==1.0.*", "name!=1.0.*",
          "name~=1.0", "name~=1.0.0", "name===anything", "name===1.0+foo", "name==1.0+local",
          "name!=1.0+local", "name>=1.0a1", "name>=1.0.post1.dev2", "name>= 1.0", "name >= 1.0 , < 2.0",
          "name==v1.0", "name==1!1.0", "name@https://example.com/pkg.whl",
          "name @ https://example.com/pkg.whl",
          "name[extra] @ https://example.com/pkg.whl ; python_version >= '3.8'",
          "name @ file:///tmp/pkg.whl", "name @ file://localhost/tmp/pkg.whl",
          "name @ git+https://git.example/x.git@v1#egg=name", "name; python_version >= '3.8'",
          "name ; os_name == \"posix\" and sys_platform != 'win32'",
          "name; (os_name == 'a' or os_name == 'b') and python_version < '4'", "name; extra == 'test'",
          "name; platform.machine == 'x86_64'", "name; os.name == 'posix'",
          "name; python_implementation == 'CPython'", "name; 'linux' in sys_platform",
          "name; sys_platform not in 'win32 cygwin'", "name; ((os_name == 'a'))",
          "name; (os_name == 'a') and (os_name == 'b')", "name; python_full_version ~= '3.8.0'",
          "name; implementation_name === 'cpython'", "name; os_name=='a'andos_name=='b'",
          "name; python_version<'3'or python_version>'3'", "A.B-C_D", "a1", "1a", "name;os_name=='a'",
          "name>=1.0;os_name=='a'", "  name  ", "name\t>=\t1.0", "name; os_name == ''",
          "name; \"a\" == \"b\"", "name; python_version == python_version",
          "name; implementation_version > '3'", "name; platform_release >= '5'",
          "name; platform_system == 'Linux'", "name; platform_version == 'x'",
          "name; platform_python_implementation == 'CPython'", "name; platform.version == 'x'",
          "name; platform.python_implementation=='CPython'", "name; sys.platform == 'linux'",
          "name @ http://[::1]/pkg.whl", "name @ http://[::ffff:1.2.3.4]:8080/x.whl",
          "name @ https://user:pw@host.example:8443/a/b.whl?x=1#frag",
          "name @ http://x.com/a.whl;os_name=='a'", "name[a-b,c.d,e_f]>=1", "name[A]",
          "name ; (os_name == 'a' and (os_name == 'b' or (os_name == 'c')))",
          "name; os_name == 'a' and os_name == 'b' or os_name == 'c'", "name; ('a' < \"b\")",
          "name; os_name == \"it's\"", "name>1,<3,!=2",
          "name==1.0a1.*", "name==1.0.post1.*", "name<=1.0rc1", "name>1.0.dev0", "name==1.0.dev0",
          "name~=1.0a1", "name~=2.2.post3", "name===1.0 ; os_name=='a'", "name(==1.0)",
          "name ( == 1.0 , != 1.0.1 )", "name==1.0;extra=='x'", "x-" + "y" * 50,
          "name; " + "(" * 20 + "os_name == 'a'" + ")" * 20,
          "", " ", "-name", "name-", "_name", ".name", "name~=1", "name~=1.0.*",
          "name~=1.0+local", "name[a,]", "name[,a]", "name[a b]", "name[a", "name(>=1.0", "name >=1.0 <2",
          "name>=1.0,", "name,>=1.0", "name; ", "name;", "name; python_version",
          "name; python_version >= ", "name; python_version >= '3.8' and",
          "name; os_name == 'a' xor os_name == 'b'", "name; unknown_var == 'a'", "name; os_name == \"a'",
          "name; os_name = 'a'", "name; (os_name == 'a'", "name; os_name == 'a')", "name @", "name @ ",
          "name @ notaurl", "name @ /abs/path", "name @ http:x", "name @ //host/path",
          "name @ FILE:///x", "name @ file:/x", "name @ file:///x?", "name @ file:////x",
          "name @ http://[::1/x", "name @ http://[zz]/x", "name @ http://[1.2.3.4]/x",
          "name @ http://x.com/a.whl extra", "name>=1.0 @ http://x", "name extra", "name==1.0 ==2.0",
          "na me", "name;;os_name=='a'", "name; os_name == 'a\nb'", "name==1.0 ; os_name=='a' ; x",
          "name==1.0 )", "name; extras == 'a'", "name; os_name in", "name; os_name notin 'a'",
          "name; and os_name == 'a'", "name; ()", "name[]]", "name[[a]]", 
          "name; os_name == 'a' and", "name=1.0", "name =>1.0", "name=<1.0", "name!1.0", "(name)",
          "name @ file:///x#", "name @ http://", "name @ https:///path", "name\u00e9", "n\u00e4me>=1",
          "name[\u00e4]", "name; Os_name == 'a'", "name; OS_NAME == 'a'", "name; os_name == 'a' AND os_name == 'b'",
          ]:
    add("req", r)
add("req", "name>=latest", differs="a version specifier must name a PEP 440 version", expect="invalid")
add("req", "name==1.0.*.1", differs="a version specifier must name a PEP 440 version", expect="invalid")
add("req", "name>=1.0.*", differs="a '.*' prefix match is for '==' and '!=' only", expect="invalid")
add("req", "name>=1.0+local", differs="only '==' and '!=' accept a local version", expect="invalid")
add("req", "name==", differs="a version specifier must name a version", expect="invalid")
add("req", "name===", differs="arbitrary equality must name some text to compare", expect="invalid")
add("req", "name<>1", differs="'<>' is not a version operator", expect="invalid")
add("req", "name; os_name not  in 'x'", differs="'not' and 'in' may be separated by any white space",
    expect="ok name=name extras= specifiers= url=none marker=os_name not in \"x\"")
add("req", "name===1.0;os_name=='a'", differs="arbitrary equality ends at ';', so the marker still applies",
    expect="ok name=name extras= specifiers====1.0 url=none marker=os_name == \"a\"")
add("req", "name @ http://x.com/a.whl\tfoo")
add("req", "name; python_version not\tin os.name",
    differs="'not' and 'in' may be separated by any white space",
    expect="ok name=name extras= specifiers= url=none marker=python_version not in os_name")
add("req", "name; ((os_name == 'a' or os_name == 'b')) and python_version < '4'",
    differs="doubled parentheses around an 'or' still group it in the marker's text",
    expect='ok name=name extras= specifiers= url=none marker=(os_name == "a" or os_name == "b") and python_version < "4"')
add("req", "name; ((os_name == 'a' or os_name == 'b'))")
add("req", "name; os_name == 'a' or ((os_name == 'b' and os_name == 'c'))",
    differs="doubled parentheses keep their group in the marker's text",
    expect='ok name=name extras= specifiers= url=none marker=os_name == "a" or (os_name == "b" and os_name == "c")')
LEGACY = "a version specifier must name a PEP 440 version"
for r in ["name>=", "name==1.0==2.0", "name>=1.0>=2", "name==1.0+"]:
    add("req", r, differs=LEGACY, expect="invalid")
add("req", "name==1.0+local.*", differs="a '.*' prefix match cannot follow a local version", expect="invalid")
add("req", "name!=1.0.dev1.*", differs="a '.*' prefix match cannot follow a dev release", expect="invalid")
add("req", "name>1.0+x", differs="only '==' and '!=' accept a local version", expect="invalid")
add("req", "name<1.0.*", differs="a '.*' prefix match is for '==' and '!=' only", expect="invalid")
# Arbitrary equality: the library too stops at Unicode white space, but takes any other text.
for r in ["name===a\u2000b", "name===a\u0085b", "name===1.0+Foo_bar-*!"]:
    add("req", r)
ARBITRARY = "arbitrary equality takes only a requirement's version characters"
for r in ["name===a\x01b", "name===a\x7fb", "name===1.0\u00e9", "name===a@b", "name===a[b]",
          "name===a/b"]:
    add("req", r, differs=ARBITRARY, expect="invalid")
# Brackets in a URL: only around an IP literal that is the whole host. The library refuses them
# elsewhere in the host, and takes them in the path, query and fragment.
for r in ["name @ https://u@[::1]:8443/x.whl", "name @ https://u[s]@h/x", "name @ https://C[::1]/x",
          "name @ https://[::1]x/", "name @ https://[::1][::2]/"]:
    add("req", r)
BRACKETS = "'[' and ']' in a URL only enclose an IP literal that is the whole host"
for r in ["name @ https://h/a[b].whl", "name @ https://h/x.whl?q=[1]", "name @ https://[::1]/x#[a]",
          "name @ file://h/[::1]"]:
    add("req", r, differs=BRACKETS, expect="invalid")

add("req", "name; os_name == 'say \"hi\"'",
    differs="a marker value holding a double quote is written in single quotes, so the text reads back",
    expect="ok name=name extras= specifiers= url=none marker=os_name == 'say \"hi\"'")

# ---- package names from paths
for p in ["  /Tmp/Pkgs/Bundle_Alder-1.0-py3-none-any.WHL \n", "dist/Tessel_Enterprise-2.1.0.tar.gz",
          "dist/tessel-enterprise-2.1.0.zip", "", "   ", "pkgs/readme.txt", "broken.whl", "dir/", "a/b/.",
          "a/b/..", "/", "dir//file.txt", "C:\\dir\\pkg-1.0-py3-none-any.whl", "x.tar.gz/",
          "\u3000Pkg-1.0.tar.gz\u00a0", "\u00c4BC-1.0.tar.gz", "dir/.whl", "pkg-1.0.TAR.GZ", "a.WHL.txt",
          "/abs/path/to/Bundle.Birch-2.0-1-py3-none-any.whl", "rel/../x/pkg-1.0.tar.gz", "README",
          "dir.whl/readme.md", "dir/pkg-latest.tar.gz", "dir/pkg-1.0-py3-none.whl", "\t\n",
          "x/y/Z.Tar.Gz", "tessel_enterprise_full-3.0-py3-none-any.whl", "./pkg-1.0.tar.gz",
          "a b/c d.txt"]:
    add("pkgname", p)

add("pkgname", "dist/-1.0.tar.gz", differs="an archive whose distribution name is empty names no package",
    expect="invalid")

with open(pathlib.Path(__file__).with_name("pkgkit_corpus.jsonl"), "w", encoding="utf-8") as f:
    for d in out:
        f.write(json.dumps(d, ensure_ascii=False) + "\n")
print(len(out))
