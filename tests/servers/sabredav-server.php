<?php
// SabreDAV serving a directory under /dav/ for PHP's built-in web server
// (php -S ... sabredav-server.php). Configured by the environment that
// sabredav.sh sets: DAV_ROOT, DAV_STATE, DAV_AUTH (basic, digest, none),
// DAV_REALM, DAV_USER, DAV_PASSWORD, DAV_HTDIGEST.

require_once 'Sabre/autoload.php';

// Notices of an old library on a new PHP go to the server's log, never into
// an answer.
ini_set('display_errors', 'stderr');

class EnvBasicAuth extends \Sabre\DAV\Auth\Backend\AbstractBasic {
    protected function validateUserPass($username, $password) {
        return $username === getenv('DAV_USER') && $password === getenv('DAV_PASSWORD');
    }
}

$uri = $_SERVER['REQUEST_URI'];
if ($uri !== '/dav' && strncmp($uri, '/dav/', 5) !== 0 && strncmp($uri, '/dav?', 5) !== 0) {
    http_response_code(404);
    exit;
}

$server = new \Sabre\DAV\Server(new \Sabre\DAV\FS\Directory(getenv('DAV_ROOT')));
$server->setBaseUri('/dav/');
$server->addPlugin(new \Sabre\DAV\Locks\Plugin(
    new \Sabre\DAV\Locks\Backend\File(getenv('DAV_STATE') . '/locks')));

switch (getenv('DAV_AUTH')) {
    case 'basic':
        $server->addPlugin(new \Sabre\DAV\Auth\Plugin(new EnvBasicAuth(), getenv('DAV_REALM')));
        break;
    case 'digest':
        $server->addPlugin(new \Sabre\DAV\Auth\Plugin(
            new \Sabre\DAV\Auth\Backend\File(getenv('DAV_HTDIGEST')), getenv('DAV_REALM')));
        break;
}

$server->exec();
