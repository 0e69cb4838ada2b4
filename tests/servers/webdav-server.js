// The npm package webdav-server (v2) serving DAV_ROOT under /dav, configured by the
// environment start.sh exports (DAV_PORT, DAV_ROOT, DAV_WORK, DAV_AUTH, DAV_TLS, ...).
'use strict';
const fs = require('fs');
const webdav = require('webdav-server').v2;
const env = process.env;

// The package's own basic authentication refuses credentials whose base64 form holds "+"
// or "/" and cuts a password at its first ":"; this one reads the header as RFC 7617 says.
class BasicAuthentication extends webdav.HTTPBasicAuthentication {
    getUser(ctx, callback) {
        const fail = (error) => this.userManager.getDefaultUser((user) => callback(error, user));
        const header = ctx.headers.find('Authorization');
        if (!header) return fail(webdav.Errors.MissingAuthorisationHeader);
        const match = /^Basic\s+([A-Za-z0-9+/]+=*)\s*$/.exec(header);
        if (!match) return fail(webdav.Errors.WrongHeaderFormat);
        const text = Buffer.from(match[1], 'base64').toString();
        const colon = text.indexOf(':');
        if (colon < 0) return fail(webdav.Errors.WrongHeaderFormat);
        this.userManager.getUserByNamePassword(text.substring(0, colon), text.substring(colon + 1),
            (e, user) => e ? fail(webdav.Errors.BadAuthentication) : callback(null, user));
    }
}

const options = { hostname: '127.0.0.1' };
if (env.DAV_AUTH === 'none') {
    options.privilegeManager = new webdav.PrivilegeManager();  // the anonymous user may do all
    options.privilegeManager._can = (path, user, resource, privilege, callback) => callback(null, true);
} else {
    const users = new webdav.SimpleUserManager();
    options.privilegeManager = new webdav.SimplePathPrivilegeManager();
    options.privilegeManager.setRights(users.addUser(env.DAV_USER, env.DAV_PASSWORD, false), '/', ['all']);
    options.requireAuthentification = true;
    options.httpAuthentication = env.DAV_AUTH === 'digest'
        ? new webdav.HTTPDigestAuthentication(users, env.DAV_REALM)
        : new BasicAuthentication(users, env.DAV_REALM);
}
if (env.DAV_TLS === '1')
    options.https = { cert: fs.readFileSync(env.DAV_WORK + '/cert.pem'), key: fs.readFileSync(env.DAV_WORK + '/key.pem') };

// Mounted at /dav so request URIs, hrefs and digest URIs all keep their full path.
const server = new webdav.WebDAVServer(options);
server.setFileSystemSync('/dav', new webdav.PhysicalFileSystem(env.DAV_ROOT));
server.start(Number(env.DAV_PORT));
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
