// Moving between the views and guarding a page's actions, shared by main.js and the views.
// main.js owns the routing and the log-in and hands them over at start (connect), so that no
// view imports main.js back.
import * as api from './api.js';
import {say} from './dom.js';

let route = () => {};
let relogin = () => {};
let pending = null;

// The router and the log-in dialog of main.js.
export function connect(handlers) {
  route = handlers.route;
  relogin = handlers.relogin;
}

// Runs an action of a page; refusals become the message line, a lost session the login dialog.
export async function guard(work) {
  try {
    return await work();
  } catch (e) {
    if (e instanceof api.SessionLost)
      relogin();
    else
      say('error', e.message || String(e));
    return undefined;
  }
}

// Shows the view of `path`, then the message (the outcome of what led there).
export function go(path, message, kind = 'info') {
  pending = message ? [kind, message] : null;
  if (location.hash === '#' + path)
    route();
  else
    location.hash = path;
}

// The message `go` left for the view it shows; handed out once.
export function takeMessage() {
  const message = pending;
  pending = null;
  return message;
}
